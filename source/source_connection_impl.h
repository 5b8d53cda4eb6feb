#pragma once

#include "source/source_query.h"
#include "source/source_copy.h"

#include <functional>

namespace p1 {

struct SourceConnection::Impl {
    QString connectionString;
    std::unique_ptr<SourceDatabase> database;
    std::unique_ptr<MemoryCopy> copy;
    // Queries bound to this connection, each with what releases its prepared statement: the
    // statements live in the copy, which goes when the connection closes.
    QHash<SourceQuery*, std::function<void()>> queries;

    void releaseQueries()
    {
        for (const auto& release : std::as_const(queries))
            release();
    }
};

} // namespace p1
