// The datagrams between linked devices: the hello that announces a device
// and the link packet that carries one report line of a link group.
// Everything here works on the received bytes and their length and never
// reads past them, whatever the bytes are.
#pragma once
#include <cstddef>
#include <cstdint>

#include "system.h"

constexpr int NETLINK_HELLO_ID = 28;
constexpr size_t NETLINK_HELLO_MIN = 13;
constexpr size_t NETLINK_HELLO_MAX = 511;
constexpr size_t NETLINK_NAME_MAX = 64;      // name characters a hello is read with
constexpr size_t NETLINK_PACKET_MAX = 1024;  // longest datagram received or sent
constexpr size_t NETLINK_LINK_MIN = 9;       // header and at least a short line
constexpr size_t NETLINK_LINK_HEADER = 4;    // "||", the group digit, "|"

struct netlink_hello {
    uint8_t addr[4];                  // the sender's address, first octet first
    char name[NETLINK_NAME_MAX + 1];  // as sent (percent-encoded), "" when missing
};

// The hello of this device: "28,0,a,b,c,d,name\n". Returns its length (no
// NUL is sent), 0 when it would not fit into size bytes.
size_t netlink_format_hello(char *out, size_t size, uint32_t addr, const char *name);

// Whether a datagram has the shape of a hello: 13 to 511 bytes starting "28".
bool netlink_is_hello(const char *data, size_t len);

// Reads address and name of a hello. Fields that are missing stay 0 and
// empty; a name beginning with "," counts as empty. False when it is no
// hello or an octet lies outside 0 to 255.
bool netlink_parse_hello(const char *data, size_t len, netlink_hello *h);

// Whether a datagram passes the link packet test: longer than 8 bytes, and
// byte 3 equal to 372 minus bytes 0 and 1 (three vertical bars do that).
bool netlink_is_link_packet(const char *data, size_t len);

// The local side of the link groups, which packets are matched against.
struct netlink_groups {
    int32_t bus_net[SYS_BUSES];      // network link group of each bus (-1 none)
    int32_t out_net[SYS_OUTPUTS];    // network link group of each output
    int32_t out_group[SYS_OUTPUTS];  // output group of each output
};

// Receives each command line a link packet makes this device run.
using netlink_run_fn = void (*)(const char *line, void *ctx);

// Turns an accepted link packet into command lines: an input bus command
// (1 to 18, 60, 61) once for every local bus of the packet's link group, an
// output group command (34 to 50) once for every output group with an output
// in it; each line with connection 0 and the local number. Other commands
// give nothing. Returns the number of lines given to run.
int netlink_link_lines(const char *data, size_t len, const netlink_groups &groups, netlink_run_fn run, void *ctx);

// "id,conn,index,rest..." becomes "id,0,local,rest..." in out. False (out
// untouched) when the line has fewer than three commas or out is too small.
bool netlink_replace_fields(const char *line, int local, char *out, size_t size);

// The low two bits of the network mode byte.
constexpr int NET_MODE_MASK = 3;
constexpr int NET_MODE_AUTO = 0;         // DHCP client if a server answers, else DHCP server
constexpr int NET_MODE_DHCP_SERVER = 1;  // on 192.168.5.1
constexpr int NET_MODE_DHCP_CLIENT = 2;
constexpr int NET_MODE_STATIC = 3;

// The netmask of a prefix length (host byte order): 0 bits give 0.0.0.0,
// 32 or more 255.255.255.255.
uint32_t netlink_netmask(int bits);

// Where hellos and link packets go: the own address (host byte order) with
// every host bit set, the netmask being 24 bits unless the network mode is
// static (then the configured length; 0 gives 255.255.255.255). 0 while the
// own address is unknown, when there is nowhere to send to.
uint32_t netlink_broadcast_address(uint32_t own, int net_flags, int netmask_bits);
