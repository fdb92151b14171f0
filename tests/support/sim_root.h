// A fresh simulation root per test, removed again afterwards.
#pragma once
#include <string>

class SimRoot {
public:
    explicit SimRoot(const std::string &mac = "02:00:00:00:12:34");
    ~SimRoot();
    SimRoot(const SimRoot &) = delete;
    SimRoot &operator=(const SimRoot &) = delete;

    const std::string &dir() const { return dir_; }
    // DIR + device path ("/mnt/userdata/sys_file.current").
    std::string path(const std::string &device_path) const { return dir_ + device_path; }
    // Makes this root the one the in-process server code uses (MIREL_ROOT).
    void activate() const;

private:
    std::string dir_;
};

// File helpers for tests.
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);
bool file_exists(const std::string &path);
