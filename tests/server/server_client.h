// A raw-mode client of the real mirelserver: sends the mode header, takes
// its connection id and sends command lines with it.
#pragma once
#include <cstdlib>
#include <string>
#include <vector>

#include "common/db_text.h"
#include "stream_harness.h"
#include "support/process.h"

struct Client {
    TestSocket sock;
    int id = 0;

    explicit Client(int port) : sock(port)
    {
        sock.send("<mode>unix</mode>\n");
        std::string greeting;
        if (sock.take_until("\n", &greeting))
            id = atoi(greeting.c_str());
    }
    // A command line with this client's id after the command id.
    void command(int cmd, const std::string &args) { sock.send(std::to_string(cmd) + "," + std::to_string(id) + "," + args + "\n"); }
    // Waits for the line and takes it and everything before it; the line
    // end before the next line stays, so that one can be looked for too.
    bool expect_line(const std::string &line)
    {
        if (!sock.expect("\n" + line + "\n", 5s))
            return false;
        sock.in.insert(0, "\n");
        return true;
    }
    // Waits for the next line that begins with prefix and takes it (without
    // its line end) and everything before it; empty when none comes.
    std::string take_line(const std::string &prefix)
    {
        std::string key = "\n" + prefix, line;
        wait_until(
            [&] {
                size_t at = sock.in.find(key);
                size_t end = at == std::string::npos ? at : sock.in.find('\n', at + 1);
                if (end == std::string::npos) {
                    sock.read_some(20ms);
                    return false;
                }
                line = sock.in.substr(at + 1, end - at - 1);
                sock.in.erase(0, end);
                return true;
            },
            5s);
        return line;
    }
    // The lines from the next one that is first up to the next one that is
    // last, both included, each ended by "\n"; empty when they do not come.
    std::string take_between(const std::string &first, const std::string &last)
    {
        std::string from = "\n" + first + "\n", to = "\n" + last + "\n", text;
        wait_until(
            [&] {
                size_t at = sock.in.find(from);
                size_t end = at == std::string::npos ? at : sock.in.find(to, at);
                if (end == std::string::npos) {
                    sock.read_some(20ms);
                    return false;
                }
                text = sock.in.substr(at + 1, end + to.size() - at - 1);
                sock.in.erase(0, end + to.size() - 1);
                return true;
            },
            5s);
        return text;
    }
    // Waits until every line has arrived, in whatever order the passes wrote them.
    bool expect_lines(const std::vector<std::string> &lines)
    {
        return wait_until(
            [&] {
                sock.read_some(20ms);
                for (const std::string &l : lines)
                    if (sock.in.find("\n" + l + "\n") == std::string::npos)
                        return false;
                return true;
            },
            5s);
    }
};

// A new loudspeaker library entry holding text (commands 70 and 67); its id
// once the text is stored, empty when the reports do not come.
inline std::string lsp_entry(Client &c, const std::string &text)
{
    std::string cid = std::to_string(c.id);
    c.command(70, "0,0");
    std::string made = c.take_line("70," + cid + ",");
    if (made.empty())
        return "";
    std::string id = made.substr(made.rfind(',') + 1);
    c.command(67, id + ",0," + db_text_encode(text));
    return c.take_line("67," + cid + "," + id + ",0,").empty() ? "" : id;
}
