#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace p1 {

// A connection to one source file, built from the system's connection string
// ("Provider=Microsoft.Jet.OLEDB.4.0;User ID=Admin;Data Source=<file>;Mode=Share Deny None;...").
// It copies each table it is asked for once (into an in-memory SQLite database of its own, with
// an index on the parameter columns and then the order columns of each statement, or on each
// parameter column of a statement without order) so that statements run as written, ORDER BY
// included, and a parameterised query costs the rows it returns. Copied tables are dropped when it closes, or when given back.
// UI thread only.
class SourceConnection {
public:
    SourceConnection();
    ~SourceConnection();
    SourceConnection(const SourceConnection&) = delete;
    SourceConnection& operator=(const SourceConnection&) = delete;

    void setConnectionString(const QString& connectionString);
    QString connectionString() const;
    QString fileName() const; // the Data Source part

    void open(); // throws SourceError
    void close();
    bool isOpen() const;
    // The copies of these tables (names bracketed or not) are given back to memory, unless a
    // query is open on one: a statement that reads one later copies it again.
    void releaseCopies(const QStringList& tables);
    // The indexes these statements will read through are made on a thread of their own, in
    // turn, while the program goes on; a statement on a table waits for its indexes. A statement
    // that cannot be run is left to tell its error when it is.
    void makeIndexesAhead(const QStringList& statements);

    struct Impl;
    Impl& impl();

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace p1
