// Fixture for tests of the command and report modules: a fresh simulation
// root, the live record at its defaults, no marks and no user messages.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform.h"
#include "report.h"
#include "report_source.h"
#include "support/capture.h"
#include "support/sim_root.h"
#include "system.h"

// What f writes to standard error, without the time prefixes.
template <class F>
std::string errors_of(F f)
{
    FdCapture cap;
    f();
    return strip_log_prefixes(cap.finish());
}

// A bounded reply buffer as the stream server would use.
template <class F>
std::string reply_of(F f, size_t size = 65536)
{
    std::string buf(size, '\0');
    report_writer w;
    report_writer_init(&w, buf.data(), buf.size());
    f(&w);
    EXPECT_LT(w.len, size);
    EXPECT_EQ(strlen(buf.c_str()), w.len);
    return std::string(buf.c_str(), w.len);
}

// A reply split into its lines, without the line ends.
inline std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    return lines;
}

inline bool record_equals(const sys_file &a) { return memcmp(&a, my_sys, sizeof a) == 0; }

inline bool nothing_marked()
{
    report_pending_t none;
    memset(&none, 0, sizeof none);
    return memcmp(&none, &report_pending, sizeof none) == 0;
}

// A rejected call: exactly the expected lines, the record untouched, nothing marked.
inline void expect_rejected(const std::string &message, const std::function<void()> &call)
{
    sys_file before = *my_sys;
    report_pending_clear();
    EXPECT_EQ(errors_of(call), message);
    EXPECT_TRUE(record_equals(before)) << message;
    EXPECT_TRUE(nothing_marked()) << message;
}

class ServerState : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.activate();
        platform_init();
        FdCapture cap;
        ASSERT_EQ(system_init(), 0);
        cap.finish();
        report_pending_clear();
        report_message_reset();
        report_set_conn_held(nullptr);
        report_source_init();
    }

    void TearDown() override { report_set_conn_held(nullptr); }

    SimRoot root_;
};
