// Captures what the code under test writes to standard error or output.
#pragma once
#include <string>

class FdCapture {
public:
    explicit FdCapture(int fd = 2);
    ~FdCapture();
    // Ends the capture and returns what was written.
    std::string finish();
    // What was written so far; the capture goes on.
    std::string text() const;

private:
    int fd_, saved_ = -1, tmp_ = -1;
};

// Drops the "YYYY-mm-dd HH:MM:SS " prefix of every line; checks its shape.
// Lines without a well-formed prefix are returned as "<no prefix>" + line.
std::string strip_log_prefixes(const std::string &text);
