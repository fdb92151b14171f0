#include "netns_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "support/process.h"

NsClient::NsClient(const Netns &ns, int port)
{
    ns.enter([&] { sock = std::make_unique<TestSocket>(port); });
    sock->send("<mode>unix</mode>\n");
    std::string greeting;
    if (sock->take_until("\n", &greeting))
        id = atoi(greeting.c_str());
}

void NsClient::command(int cmd, const std::string &args)
{
    sock->send(std::to_string(cmd) + "," + std::to_string(id) + "," + args + "\n");
}

bool NsClient::expect_line(const std::string &text, std::chrono::milliseconds timeout)
{
    std::string taken;
    bool ok = sock->take_until("\n" + text, &taken, timeout);
    seen += taken;
    return ok;
}

bool NsClient::expect_set(int cmd, const std::string &values)
{
    std::string mine = std::to_string(cmd) + "," + me() + "," + values + "\n";
    std::string linked = std::to_string(cmd) + ",-127," + values + "\n";
    return wait_until(
        [&] {
            sock->read_some(20ms);
            return sock->in.find("\n" + mine) != std::string::npos ||
                   sock->in.find("\n" + linked) != std::string::npos;
        },
        5s);
}

const std::string &NsClient::all()
{
    command(27, "-1");
    expect_line("27," + me() + ",");
    return seen;
}

std::string dig(const Netns &ns, const std::string &args)
{
    std::string out;
    ns.run("dig +tries=1 +time=1 " + args, &out);
    return out;
}

std::string dig_short(const Netns &ns, const std::string &args)
{
    std::string out = dig(ns, "+short " + args);
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

unique_fd ns_udp(const Netns &ns)
{
    unique_fd fd;
    ns.enter([&] { fd.reset(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); });
    return fd;
}

void send_to(int fd, const std::string &bytes, uint32_t addr, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(addr);
    a.sin_port = htons((uint16_t)port);
    ASSERT_EQ(sendto(fd, bytes.data(), bytes.size(), 0, (sockaddr *)&a, sizeof a), (ssize_t)bytes.size());
}

dns_bytes receive(int fd, std::chrono::milliseconds timeout)
{
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, (int)timeout.count()) != 1)
        return {};
    uint8_t buf[1024];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? dns_bytes(buf, buf + n) : dns_bytes{};
}
