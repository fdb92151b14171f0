// A power cut in the middle of a project save, played by SIGKILL at random
// moments while the real mirelserver saves bursts of generations: the
// database must always open, pass its integrity check and hold one whole
// generation of the project, never rows of two.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <random>
#include <sstream>

#include "dbase.h"
#include "server_client.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "support/sqlite_shell.h"

namespace {

constexpr int PROJECT = 2;
constexpr int BURST = 6;  // saves sent at once, each of a new generation

// One value in every table a save writes (all twelve statements), each a
// function of the generation v (below 238).
std::string generation_lines(int c, int v)
{
    std::ostringstream out;
    auto line = [&](int cmd, const std::string &args) { out << cmd << ',' << c << ',' << args << '\n'; };
    line(119, "0,gen" + std::to_string(v));
    line(2, "0," + std::to_string(-0.5 - 0.25 * v));
    line(12, "3,15," + std::to_string((v % 60) * 0.5 - 15));
    line(16, "5,2," + std::to_string(100 + v) + ",1.0,0.0,0");
    line(18, "6," + std::to_string(20 + v) + ",1,0");
    line(17, "2,0," + std::to_string(20 + v) + ",0.0,0");
    line(17, "2,1," + std::to_string(1000 + v) + ",0.0,0");
    line(38, "0," + std::to_string(-0.5 - 0.25 * v));
    line(45, "3,1," + std::to_string(100 + v) + ",1.0,0.0,0");
    line(47, "4," + std::to_string(20 + v) + ",1,0");
    line(46, "5,0," + std::to_string(20 + v) + ",0.0,0");
    line(46, "6,1," + std::to_string(1000 + v) + ",0.0,0");
    return out.str();
}

// The twelve values as the sqlite3 shell prints them.
const char *const MARKERS_SQL =
    "SELECT (SELECT description FROM project WHERE id=2),"
    "(SELECT gain FROM inputbus WHERE id_project=2 AND bus_id=0),"
    "(SELECT g15 FROM geq WHERE id_project=2 AND bus_id=3),"
    "(SELECT freq FROM buseq WHERE id_project=2 AND bus_id=5 AND type=0 AND order_id=2),"
    "(SELECT freq FROM buseq WHERE id_project=2 AND bus_id=6 AND type=1),"
    "(SELECT freq FROM buseq WHERE id_project=2 AND bus_id=2 AND type=2),"
    "(SELECT freq FROM buseq WHERE id_project=2 AND bus_id=2 AND type=3),"
    "(SELECT gain FROM output WHERE id_project=2 AND out_id=0),"
    "(SELECT freq FROM outeq WHERE id_project=2 AND out_id=3 AND type=0 AND order_id=1),"
    "(SELECT freq FROM outeq WHERE id_project=2 AND out_id=4 AND type=1),"
    "(SELECT freq FROM outeq WHERE id_project=2 AND out_id=5 AND type=2),"
    "(SELECT freq FROM outeq WHERE id_project=2 AND out_id=6 AND type=3);";

std::string expected_markers(int v)
{
    auto real = [](double x) {
        std::ostringstream s;
        s << x;
        std::string t = s.str();
        return t.find('.') == std::string::npos ? t + ".0" : t;
    };
    std::ostringstream s;
    s << "gen" << v << '|' << real(-0.5 - 0.25 * v) << '|' << real((v % 60) * 0.5 - 15) << '|' << real(100 + v) << '|'
      << real(20 + v) << '|' << real(20 + v) << '|' << real(1000 + v) << '|' << real(-0.5 - 0.25 * v) << '|'
      << real(100 + v) << '|' << real(20 + v) << '|' << real(20 + v) << '|' << real(1000 + v) << '\n';
    return s.str();
}

TEST(ProjectPower, AKilledSaveLeavesTheOldOrTheNewProjectNeverAMix)
{
    SimRoot root;
    int port = free_port();
    std::string db_file = root.path(DBASE_FILE);
    auto start = [&](ServerProcess &server) {
        server.start(root.dir(), port);
        auto c = std::make_unique<Client>(port);
        EXPECT_TRUE(c->expect_line("98,0"));
        return c;
    };

    // Generation 0 in project 2, with no bus or group linked to another.
    int committed = 0;
    {
        ServerProcess server;
        auto c = start(server);
        std::string lines;
        for (int b = 0; b < 8; b++)
            lines += "10," + std::to_string(c->id) + "," + std::to_string(b) + ",-1\n";
        c->sock.send(lines + generation_lines(c->id, 0) + "102," + std::to_string(c->id) + ",0,Power\n");
        ASSERT_TRUE(c->expect_line("25," + std::to_string(c->id) + ",0,Project%20saved."));
        server.stop(SIGTERM);
    }
    ASSERT_EQ(sqlite_shell(db_file, MARKERS_SQL), expected_markers(0));

    std::mt19937 random(20261208);
    auto began = std::chrono::steady_clock::now();
    int rounds = 0, cut_bursts = 0;
    int next = 1;
    while (rounds < 30 && std::chrono::steady_clock::now() - began < 30s && next + BURST < 238) {
        ServerProcess server;
        auto c = start(server);
        std::string cid = std::to_string(c->id);
        // The project as last committed comes back, then a burst of saves.
        c->command(99, std::to_string(PROJECT));
        ASSERT_TRUE(c->expect_line("100," + cid + ",2,0,0,0,Power")) << "round " << rounds;
        std::string burst;
        for (int i = 0; i < BURST; i++)
            burst += generation_lines(c->id, next + i) + "101," + cid + ",0\n";
        // Killed at a random moment while the burst is handled.
        c->sock.send(burst);
        std::uniform_int_distribution<int> delay_us(0, 40000);
        auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(delay_us(random));
        while (std::chrono::steady_clock::now() < until)
            c->sock.read_some(1ms);
        server.stop(SIGKILL);

        ASSERT_EQ(sqlite_shell(db_file, "PRAGMA integrity_check;"), "ok\n") << "round " << rounds;
        std::string markers = sqlite_shell(db_file, MARKERS_SQL);
        int found = -1;
        for (int v : {committed, next, next + 1, next + 2, next + 3, next + 4, next + 5})
            if (markers == expected_markers(v))
                found = v;
        ASSERT_NE(found, -1) << "round " << rounds << ": a mix of generations: " << markers;
        if (found != committed && found != next + BURST - 1)
            cut_bursts++;
        committed = found;
        next += BURST;
        rounds++;
    }
    EXPECT_GE(rounds, 10);
    // The kills did fall between saves of a burst, not only before or after it.
    EXPECT_GE(cut_bursts, 2) << rounds << " rounds";

    // And the server still starts on it and serves the project.
    ServerProcess server;
    auto c = start(server);
    c->command(1038, std::to_string(PROJECT));
    EXPECT_TRUE(c->expect_line("119,0,2,gen" + std::to_string(committed)));
}

}  // namespace
