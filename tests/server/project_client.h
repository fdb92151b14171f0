// Whole projects through the real mirelserver: a command mix that sets
// every kind of bus and output-group value, and the full dump a client
// reads back, so two states (or two servers) can be compared line by line.
#pragma once
#include <sstream>
#include <string>

#include "server_client.h"

inline const char *const TWO_WAY = "LOW\nGAIN -2DB\nLPF 2KHZ LR24\nHIGH\nHPF 2KHZ LR24\nDELAY 0.5MS\n";

// Every kind of bus and output-group value, one line each, with values
// that differ between variant 0 and 1. Group 1 has no output while the
// two-way loudspeaker plays on group 0 (variant 0).
inline std::string mix_lines(int c, int v, int two_way)
{
    std::ostringstream out;
    auto line = [&](int cmd, const std::string &args) { out << cmd << ',' << c << ',' << args << '\n'; };
    auto num = [](double x) {
        std::ostringstream s;
        s << x;
        return s.str();
    };
    // Local link groups, each of them on one bus or group only: two linked
    // buses would take each other's values in the update passes. All leave
    // their groups before any joins one.
    for (int b = 0; b < 8; b++)
        line(10, std::to_string(b) + ",-1");
    for (int b = 0; b < 4; b++)
        line(10, std::to_string(v ? 7 - b : b) + "," + std::to_string(b));
    for (int b = 0; b < 8; b++) {
        std::string bus = std::to_string(b) + ",";
        line(2, bus + num(-1.5 - b - 10 * v));
        line(3, bus + std::to_string((b + v) & 1));
        line(4, bus + num(-10 - b - v));
        line(5, bus + num(2 + b + v));
        line(6, bus + num(1 + b + v));
        line(7, bus + num(3 + b + v));
        line(113, bus + num(11 + b + v));
        line(114, bus + num(120 + b + v));
        line(115, bus + num(7 + b + v));
        line(14, bus + (v ? "32" : "256"));
        line(9, bus + (v ? "Other" + std::to_string(b) : "Kick%20%E9%u20AC" + std::to_string(b)));
        line(1, bus + std::to_string((b + v) & 1));
        line(8, bus + std::to_string(1 << ((b + v) % 4)));
        line(11, bus + (v ? "-1" : std::to_string(b % 3 - 1)));
        for (int g = 0; g < 31; g++)
            line(12, bus + std::to_string(g) + "," + num((g + b + 7 * v) % 25 - 12));
        for (int p = 0; p < 5; p++)
            line(16, bus + std::to_string(p) + "," + num(100 * (p + 1) + b + 10 * v) + "," + num(0.5 + p) + "," +
                         num(-2 - p + v) + "," + std::to_string((p + v) & 1));
        line(17, bus + "0," + num(120 + b + v) + "," + num(3 - v) + "," + std::to_string(v));
        line(17, bus + "1," + num(9000 + b + v) + "," + num(-4 + v) + "," + std::to_string(1 - v));
        line(18, bus + num(30 + b + v) + "," + std::to_string((b + v) % 5) + "," + std::to_string((b + v) & 1));
    }
    line(36, "0," + std::to_string(v == 0 ? two_way : 0));
    for (int g = 0; g < 8; g++)
        if (g != 1 || v == 1)
            line(40, std::to_string(g) + ",-1");
    for (int i = 0; i < 4; i++)
        line(40, std::to_string(v ? i + (i > 0) : 4 + i) + "," + std::to_string(i));
    for (int g = 0; g < 8; g++) {
        if (g == 1 && v == 0)
            continue;
        std::string grp = std::to_string(g) + ",";
        line(38, grp + num(-2 - g - v));
        line(39, grp + std::to_string((g + v) & 1));
        line(43, grp + num(1.25 + g + v));
        line(35, grp + (v ? "O" + std::to_string(g) : "Out%20%u00FC" + std::to_string(g)));
        line(42, grp + std::to_string((7 - g + v) % 8));
        line(41, grp + (v ? "-1" : std::to_string(g % 2)));
        line(49, grp + (v ? "0" : "2048"));
        for (int p = 0; p < 4; p++)
            line(45, grp + std::to_string(p) + "," + num(200 * (p + 1) + g + v) + ",1.5," + num(4 - p - v) + "," +
                         (p == 2 ? "1" : "0"));
        line(46, grp + "0," + num(90 + v) + "," + num(-6 + v) + ",0");
        line(46, grp + "1," + num(11000 + v) + ",2.5,1");
        line(47, grp + num(45 + g + v) + "," + std::to_string((4 - g + v + 5) % 5) + ",0");
    }
    for (int o = 0; o < 8; o++)
        line(44, std::to_string(o) + "," + std::to_string((o % 3 == 0) != (v == 1)));
    return out.str();
}

// The full dump (1037) as the client reads it, without the level lines
// the broadcasts put between answers. Two single-project lists of an
// unknown id mark where it begins and ends.
inline std::string project_dump(Client &c)
{
    const std::string marker = "\n97,0,0\n98,0\n";
    std::string id = std::to_string(c.id);
    c.sock.send("1030," + id + ",-9\n1037," + id + "\n1030," + id + ",-9\n");
    std::string text;
    if (!c.sock.take_until(marker, &text) || !c.sock.take_until(marker, &text, 5s))
        return "no dump";
    c.sock.in.insert(0, "\n");
    text.erase(text.rfind("\n100,0,") + 1);
    std::istringstream in(text);
    std::string kept;
    for (std::string l; std::getline(in, l);)
        if (!l.empty() && l.rfind("29,", 0) != 0 && l.rfind("30,", 0) != 0 && l.rfind("31,", 0) != 0)
            kept += l + "\n";
    return kept;
}

// Reads until the level lines of n more real-time cycles have come.
inline void wait_cycles(Client &c, int n)
{
    size_t from = c.sock.in.size();
    auto seen = [&] {
        int lines = 0;
        for (size_t at = c.sock.in.find("\n31,7,", from); at != std::string::npos;
             at = c.sock.in.find("\n31,7,", at + 1))
            lines++;
        return lines >= n;
    };
    wait_until([&] { return seen() || (c.sock.read_some(20ms), false); }, 5s);
}

// The dump once the passes have applied everything: the same before and
// after two more cycles.
inline std::string settled_dump(Client &c)
{
    std::string last = project_dump(c);
    wait_until(
        [&] {
            wait_cycles(c, 2);
            std::string now = project_dump(c);
            bool same = now == last;
            last = now;
            return same;
        },
        5s);
    return last;
}

// The lines of a that b lacks or has otherwise, for a readable failure.
inline std::string difference(const std::string &a, const std::string &b)
{
    std::istringstream ia(a), ib(b);
    std::string la, lb, out;
    while (std::getline(ia, la)) {
        if (!std::getline(ib, lb))
            lb = "<end>";
        if (la != lb)
            out += "- " + la + "\n+ " + lb + "\n";
    }
    return out;
}

