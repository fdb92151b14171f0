// Device linking: one UDP socket on the link port through which the device
// announces itself with hellos, learns the other devices (and gives their
// names to the DNS responder), and sends and receives the link packets that
// make linked buses and output groups follow each other. The hello thread
// also runs the network manager, one round after each hello.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// Bit 4 of the network mode byte: no DNS service.
constexpr int NET_FLAG_DNS_OFF = 0x10;

// The link socket, -1 until linking is up.
extern int netlink_socket;
// Where link packets and hellos go (network byte order), 0 while the own
// address is unknown.
extern std::atomic<uint32_t> netlink_broadcast_addr;

// Creates and binds the link socket, blocks SIGPIPE for this thread and the
// ones created after it, starts the DNS responder, the hello thread and the
// listener. Any failure ends the process. Returns 0.
int netlink_init();

// Sends one link packet (length includes its terminating NUL) to the
// broadcast address on the link port. Nothing happens without a socket or
// while the broadcast address is unknown.
void netlink_broadcast(const char *data, size_t length);

// The network settings of the state as the manager works with them: copied by
// the update passes each time they report them (report 21), under the
// network-configuration lock.
struct netlink_settings {
    int32_t net_flags;
    int32_t ip[4];
    int32_t netmask_bits;
    int32_t gateway[4];
    bool changed;  // set with each copy, cleared by the manager once applied
};

// Copies the network settings of the state for the manager and marks them
// changed. Caller holds the command lock.
void netlink_settings_refresh();

// The bridge's own address (host byte order), 0 until the manager learns it.
uint32_t netlink_own_address();

// One round of network management. Run by the hello thread after each hello.
void netlink_manage_round();

// What the listener does with one received datagram: a hello updates the
// known devices (and the DNS table), a link packet from another device is
// re-applied to the local buses or output groups of its link group under the
// command lock, with connection id -127. sender is in host byte order.
void netlink_receive(const char *data, size_t len, uint32_t sender);
