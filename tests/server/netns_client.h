// Talking to a real server inside a network namespace: a raw-mode client,
// dig, and UDP sockets made in the namespace.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "dns_query.h"
#include "stream_harness.h"
#include "support/netns.h"
#include "unique_fd.h"

// A raw-mode client inside a namespace. Everything it has taken is kept in
// seen, so a test can look for lines that must not have come.
struct NsClient {
    std::unique_ptr<TestSocket> sock;
    int id = 0;
    std::string seen;

    NsClient(const Netns &ns, int port);
    void command(int cmd, const std::string &args);
    std::string me() const { return std::to_string(id); }
    // Waits for a whole line that begins with text.
    bool expect_line(const std::string &text, std::chrono::milliseconds timeout = 5s);
    // Waits for a line of this setting: the echo of our own command, or the
    // same value from the link when the other device's change came first.
    bool expect_set(int cmd, const std::string &values);
    // Everything up to the answer to a query sent now (the key-lock value).
    const std::string &all();
};

// dig inside the namespace, one try of one second; its standard output.
std::string dig(const Netns &ns, const std::string &args);
// The same with +short, without the last line end.
std::string dig_short(const Netns &ns, const std::string &args);

// A UDP socket made inside the namespace.
unique_fd ns_udp(const Netns &ns);
// Sends bytes to addr (host byte order) and port; a failed send fails the test.
void send_to(int fd, const std::string &bytes, uint32_t addr, int port);
// The next datagram on fd within the timeout; empty when none came.
dns_bytes receive(int fd, std::chrono::milliseconds timeout);
