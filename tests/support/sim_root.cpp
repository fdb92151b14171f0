#include "support/sim_root.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

SimRoot::SimRoot(const std::string &mac)
{
    char tmpl[] = "/tmp/mirel-sim-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    dir_ = tmpl;
    std::string cmd = std::string(MIREL_SOURCE_DIR) + "/tools/sim-root '" + dir_ + "' --mac " + mac + " >/dev/null";
    if (system(cmd.c_str()) != 0)
        throw std::runtime_error("tools/sim-root failed");
}

SimRoot::~SimRoot()
{
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", dir_.c_str());
}

void SimRoot::activate() const
{
    setenv("MIREL_ROOT", dir_.c_str(), 1);
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), (std::streamsize)data.size());
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}
