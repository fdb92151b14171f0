// The sqlite3 shell (Debian's, not ours) run on a database file, so tests
// look into the real file the way a person would.
#pragma once
#include <string>

// Runs the SQL text with "sqlite3 -batch" (list mode, "|" between columns,
// one row per line) and returns its standard output; a failing run adds
// "ERROR" and what the shell wrote to standard error.
std::string sqlite_shell(const std::string &db_file, const std::string &sql);
