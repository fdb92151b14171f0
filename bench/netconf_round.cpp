// One round of network management when nothing changes, as the hello thread
// runs it every one to three seconds for the life of the device: collect the
// daemons, keep the mode, read br0's address, look for "wlan0".
//
// As root the benchmark moves itself into a network namespace of its own
// (unshare), with a bridge "br0" and a "wlan0" (a veth end), so the rounds
// see the device's interfaces and the simulated DHCP server and access point
// run; the host's network is never touched. Without root it measures in the
// current namespace, where there is no "br0".
//   build/hw2/bench/netconf_round
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <sched.h>
#include <string>
#include <unistd.h>

#include "dsp/rt_thread.h"
#include "netconf.h"
#include "netlink.h"
#include "netlink_packet.h"
#include "platform.h"
#include "support/sim_root.h"
#include "system.h"

namespace {

bool g_own_network = false;

bool make_own_network()
{
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
        return false;
    const char *setup =
        "ip link set lo up && ip link add br0 type bridge && ip addr add 10.213.15.1/24 dev br0 && "
        "ip link set br0 up && ip link add wlan0 type veth peer name wlan0-peer";
    return system(setup) == 0;
}

// Settles the manager into the mode: the first round starts what the mode
// needs, the second finds it running.
void settle(int mode)
{
    pthread_mutex_lock(&command_lock);
    my_sys->net_flags = mode;
    my_sys->ip[0] = 10, my_sys->ip[1] = 213, my_sys->ip[2] = 15, my_sys->ip[3] = 1;
    my_sys->netmask_bits = 24;
    netlink_settings_refresh();
    pthread_mutex_unlock(&command_lock);
    netlink_manage_round();
    netlink_manage_round();
}

void round_bench(benchmark::State &state, int mode)
{
    settle(mode);
    pid_t dhcpd = netconf_pid(NETCONF_DHCPD);
    for (auto _ : state)
        netlink_manage_round();
    if (netconf_pid(NETCONF_DHCPD) != dhcpd)
        state.SkipWithError("the DHCP server was restarted: something changed");
    state.SetLabel(std::string(g_own_network ? "own namespace, br0 and wlan0" : "current namespace, no br0") +
                   (netconf_ap_running() ? ", access point running" : "") +
                   (netconf_pid(NETCONF_DHCPD) != 0 ? ", DHCP server running" : ""));
}

void BM_RoundDhcpServer(benchmark::State &state)
{
    round_bench(state, NET_MODE_DHCP_SERVER);
}
BENCHMARK(BM_RoundDhcpServer)->Unit(benchmark::kMicrosecond);

void BM_RoundStatic(benchmark::State &state)
{
    round_bench(state, NET_MODE_STATIC);
}
BENCHMARK(BM_RoundStatic)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv)
{
    g_own_network = make_own_network();
    SimRoot root;
    root.activate();
    platform_init();
    if (system_init() != 0)
        return 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    netconf_reset();
    return 0;
}
