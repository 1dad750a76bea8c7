// Whether a SQLite database file is open in a connection, for tools that would replace the file
// (`morvane init --force`): a connection that holds a replaced file open goes on reading and
// writing the old one, and every change it makes is lost with it.
//
// How it is seen: every connection of this provider switches its file to WAL mode when it opens,
// and a connection in WAL mode keeps a shared lock on the database file from its first statement
// until it closes, idle or not (the last one to close finds no other lock and checkpoints). The
// probe opens the file in exclusive locking mode and begins an exclusive transaction: SQLite then
// asks for the file's EXCLUSIVE lock before it touches the WAL, and is refused (SQLITE_BUSY) while
// any other connection holds the file, in this process or another. Asking through SQLite rather
// than with fcntl() on the file matters within one process: POSIX drops every lock a process
// holds on a file when any of its descriptors of that file is closed, and SQLite alone knows which
// of them it may close.
//
// Not seen: a connection in rollback-journal mode between two transactions holds no lock (a
// program that never switched the file to WAL), and a connection that opens the file after the
// probe. Thread rules: any thread, at any time.
#pragma once

#include <string>

namespace morvane::db::sqlite {

// True when another connection holds the database at `path` open. False when none does, and when
// the file cannot be opened or is not a database (no connection can be using it as one). When no
// connection holds it, the probe may first complete a transaction that an earlier process left in
// its WAL or journal (as any connection opening the file would); it never creates the file.
bool DatabaseInUse(const std::string& path);

}  // namespace morvane::db::sqlite
