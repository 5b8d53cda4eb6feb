#pragma once

#include <QString>

namespace p1 {

// Creates an empty embedded (SQLite) target in the folder, made when missing: Kelvanor.ver naming
// the database file, EDITOR.INI naming the prescriptions table, and the database with every
// table of the target. Throws Error for a folder that already holds a target, or that cannot be
// written.
void createEmbeddedTarget(const QString& folder);

// An existing database of a PostgreSQL server, reached as the import will reach it.
struct ServerDatabase {
    QString server; // host[:port], or a socket folder[:port]
    QString database;
    QString user;
    QString password; // may be empty
};

// Makes an empty, existing PostgreSQL database a target: every table created in it, and in the
// folder (made when missing) Kelvanor.ver naming the server, the database, the user and the
// scrambled password, and EDITOR.INI. Throws Error, leaving the database empty and the folder
// without settings, for a folder that already holds a target, a database that cannot be reached
// or already holds tables, a setting those files cannot hold, or a folder that cannot be written.
void createPostgresTarget(const QString& folder, const ServerDatabase& server);

} // namespace p1
