#include "support/capture.h"

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <unistd.h>

FdCapture::FdCapture(int fd) : fd_(fd)
{
    char tmpl[] = "/tmp/mirel-capture-XXXXXX";
    tmp_ = mkstemp(tmpl);
    unlink(tmpl);
    fflush(nullptr);
    saved_ = dup(fd_);
    dup2(tmp_, fd_);
}

FdCapture::~FdCapture()
{
    if (saved_ >= 0)
        finish();
}

std::string FdCapture::finish()
{
    if (saved_ < 0)
        return {};
    fflush(nullptr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    std::string out;
    lseek(tmp_, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = read(tmp_, buf, sizeof buf)) > 0)
        out.append(buf, (size_t)n);
    close(tmp_);
    return out;
}

std::string FdCapture::text() const
{
    std::string out;
    if (saved_ < 0)
        return out;
    char buf[4096];
    ssize_t n;
    for (off_t off = 0; (n = pread(tmp_, buf, sizeof buf, off)) > 0; off += n)
        out.append(buf, (size_t)n);
    return out;
}

std::string strip_log_prefixes(const std::string &text)
{
    static const std::regex prefix(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_search(line, m, prefix))
            out += line.substr(m.length()) + "\n";
        else
            out += "<no prefix>" + line + "\n";
    }
    return out;
}
