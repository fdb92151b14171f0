#include "support/sqlite_shell.h"

#include <cstdio>
#include <sys/wait.h>

#include "support/sim_root.h"

std::string sqlite_shell(const std::string &db_file, const std::string &sql)
{
    // The SQL goes through a file, so no quoting of it can go wrong.
    std::string script = db_file + ".test.sql";
    std::string errors = db_file + ".test.err";
    // The server may be writing: wait for its lock as a person would.
    write_file(script, ".timeout 2000\n" + sql + "\n");
    std::string cmd = "sqlite3 -batch '" + db_file + "' < '" + script + "' 2> '" + errors + "'";
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (p == nullptr)
        return "ERROR popen";
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    int status = pclose(p);
    if (status != 0)
        out += "ERROR " + read_file(errors);
    std::remove(script.c_str());
    std::remove(errors.c_str());
    return out;
}
