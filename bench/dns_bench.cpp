// DNS answers: one reply worked out in memory against a full table (64
// linked devices, 129 names), and the real responder answering one querier
// that waits for each answer before it asks again. The second runs the real
// mirelserver in a network namespace of its own ("br0" a bridge there) and
// fills its table with hellos, so it needs root.
//   build/hw2/bench/dns_bench
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "dnsd.h"
#include "netlink_devices.h"
#include "support/netns.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "unique_fd.h"

namespace {

constexpr int DEVICES = NETLINK_DEVICES_MAX;
constexpr uint32_t OWN = 0x0ad50b01;  // 10.213.11.1
constexpr int LINK_PORT = 24871, DNS_PORT = 53;

std::vector<uint8_t> query(const std::string &name, uint16_t type)
{
    std::vector<uint8_t> q = {0x12, 0x34, 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    size_t start = 0;
    while (start <= name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            dot = name.size();
        q.push_back((uint8_t)(dot - start));
        q.insert(q.end(), name.begin() + (long)start, name.begin() + (long)dot);
        start = dot + 1;
    }
    q.push_back(0);
    q.insert(q.end(), {0, (uint8_t)type, 0, 1});
    return q;
}

std::string device_name(int i)
{
    return "device-" + std::to_string(i);
}

std::string hello(int i)
{
    return "28,0,10,213,11," + std::to_string(10 + i) + "," + device_name(i) + "\n";
}

// The table a device with a full list of linked devices hands its responder.
void fill_table_in_memory()
{
    netlink_devices_clear();
    for (int i = 0; i < DEVICES; i++) {
        netlink_hello h{};
        h.addr[0] = 10, h.addr[1] = 213, h.addr[2] = 11, h.addr[3] = (uint8_t)(10 + i);
        snprintf(h.name, sizeof h.name, "%s", device_name(i).c_str());
        netlink_devices_hello(h, i);
    }
    netlink_devices_publish(OWN);
}

void reply_bench(benchmark::State &state, const std::vector<uint8_t> &q)
{
    fill_table_in_memory();
    uint8_t reply[DNSD_PACKET_MAX];
    for (auto _ : state) {
        size_t n = dnsd_reply(q.data(), q.size(), reply);
        benchmark::DoNotOptimize(n);
        if (n == 0)
            state.SkipWithError("no answer");
    }
    state.SetItemsProcessed(state.iterations());
}

// The worst cases: the last name of the table, a name that only the
// wildcard (the last entry) answers, the last device's reverse name.
void BM_reply_last_name(benchmark::State &state)
{
    reply_bench(state, query(device_name(DEVICES - 1) + ".karu", DNSD_TYPE_A));
}
void BM_reply_wildcard(benchmark::State &state)
{
    reply_bench(state, query("www.example.com", DNSD_TYPE_A));
}
void BM_reply_reverse(benchmark::State &state)
{
    reply_bench(state, query(std::to_string(10 + DEVICES - 1) + ".11.213.10.in-addr.arpa", DNSD_TYPE_PTR));
}
BENCHMARK(BM_reply_last_name);
BENCHMARK(BM_reply_wildcard);
BENCHMARK(BM_reply_reverse);

void send_to(int fd, const void *data, size_t len, uint32_t addr, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(addr);
    a.sin_port = htons((uint16_t)port);
    sendto(fd, data, len, 0, (sockaddr *)&a, sizeof a);
}

bool answered(int fd, const std::vector<uint8_t> &q)
{
    send_to(fd, q.data(), q.size(), OWN, DNS_PORT);
    pollfd p = {fd, POLLIN, 0};
    uint8_t buf[DNSD_PACKET_MAX];
    return poll(&p, 1, 1000) == 1 && recv(fd, buf, sizeof buf, 0) > 12;
}

// The real server on its namespace's bridge, its table full.
struct live_device {
    std::unique_ptr<Netns> ns;
    std::unique_ptr<SimRoot> root;
    ServerProcess server;
    unique_fd querier;
    std::string error;

    live_device()
    {
        std::string why = netns_unavailable();
        if (!why.empty()) {
            error = "network namespaces cannot be made: " + why;
            return;
        }
        netns_sweep_stale();
        ns = std::make_unique<Netns>("dnsbench");
        if (!ns->ok() || !ns->add_bridge("10.213.11.1/24")) {
            error = "could not set up the namespace";
            return;
        }
        root = std::make_unique<SimRoot>();
        server.start(root->dir(), LINK_PORT, {"MIREL_DNS_PORT="}, ns->name());
        if (!server.wait_out("ip: ad50b01\n", 10s)) {
            error = "the server did not learn its address";
            return;
        }
        ns->enter([&] { querier.reset(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); });
        for (int i = 0; i < DEVICES; i++) {
            std::string h = hello(i);
            send_to(querier.get(), h.data(), h.size(), OWN, LINK_PORT);
        }
        std::vector<uint8_t> last = query(device_name(DEVICES - 1), DNSD_TYPE_A);
        if (!wait_until([&] { return answered(querier.get(), last); }, 10s))
            error = "the table was not filled";
    }
};

void BM_one_querier(benchmark::State &state)
{
    static live_device device;
    if (!device.error.empty()) {
        state.SkipWithError(device.error.c_str());
        return;
    }
    // The last device's name: the whole table is searched for each answer.
    std::vector<uint8_t> q = query(device_name(DEVICES - 1) + ".karu", DNSD_TYPE_A);
    for (auto _ : state)
        if (!answered(device.querier.get(), q)) {
            state.SkipWithError("a query went unanswered");
            break;
        }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_one_querier)->UseRealTime()->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
