#pragma once

#include "platform/source_query.h"
#include "platform/source_staging.h"

#include <functional>

namespace p1 {

struct SourceConnection::Impl {
    QString connectionString;
    std::unique_ptr<SourceDatabase> database;
    std::unique_ptr<SourceStage> stage;
    // Queries bound to this connection, each with what releases its prepared statement: the
    // statements live in the stage, which goes when the connection closes.
    QHash<SourceQuery*, std::function<void()>> queries;

    void releaseQueries()
    {
        for (const auto& release : std::as_const(queries))
            release();
    }
};

} // namespace p1
