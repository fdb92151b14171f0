// The devices this one has heard hellos from, in arrival order, and the DNS
// table made from them. The list is bounded: a flood of forged hellos from
// ever new addresses can neither exhaust memory nor slow the table down.
#pragma once
#include <cstddef>
#include <cstdint>

#include "netlink_packet.h"

constexpr size_t NETLINK_DEVICES_MAX = 64;
// Every this many hellos the list starts afresh (one a second for a day).
constexpr uint32_t NETLINK_HELLO_RESET = 86400;
constexpr const char *NETLINK_DOMAIN = "karu";
// A decoded name: each escape of the hello's 64 characters gives at most 3 bytes.
constexpr size_t NETLINK_DECODED_MAX = 3 * NETLINK_NAME_MAX;

struct netlink_device {
    uint8_t addr[4];
    char addr_text[16];                             // "a.b.c.d"
    char name[NETLINK_NAME_MAX + 1];                // as received
    char name_decoded[NETLINK_DECODED_MAX + 1];
    char name_domain[NETLINK_DECODED_MAX + 6];      // decoded name + ".karu"
    int64_t heard;                                  // monotonic ns of the last hello
};

// Takes one hello heard at time now (monotonic ns). A known address only
// gets its time (and a new name); an unknown one is appended, replacing the
// device heard least recently when the list is full. Returns true when the
// names changed, so the DNS table must be made again.
bool netlink_devices_hello(const netlink_hello &h, int64_t now);

// Gives the DNS responder its table: for each device (name, address) and
// (name.karu, address), then ("*", own address), own in host byte order.
void netlink_devices_publish(uint32_t own);

size_t netlink_devices_count();
// A copy of device i in list order; false past the end.
bool netlink_devices_get(size_t i, netlink_device *out);
// Forgets every device and the hello count.
void netlink_devices_clear();
