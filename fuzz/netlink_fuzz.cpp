// One datagram on the link port as the listener takes it: a hello (into the
// bounded device list and the DNS table made from it) or a link packet (into
// the command lines it would run), with link groups taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "netlink_devices.h"
#include "netlink_packet.h"

namespace {

void check_line(const char *line, void *)
{
    // Every line carries connection 0 and a local number behind its id.
    const char *comma = strchr(line, ',');
    if (comma == nullptr || comma[1] != '0' || comma[2] != ',')
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > NETLINK_PACKET_MAX + 1)
        return 0;
    // First byte: which buses and outputs sit in link groups 0 to 3.
    netlink_groups groups;
    for (int i = 0; i < SYS_BUSES; i++) {
        groups.bus_net[i] = (data[0] >> (i % 4)) & 1 ? i % 4 : -1;
        groups.out_net[i] = (data[0] >> (4 + i % 4)) & 1 ? i % 4 : -1;
        groups.out_group[i] = i / 2;
    }
    const char *packet = (const char *)data + 1;
    size_t len = size - 1;
    netlink_hello h;
    if (netlink_parse_hello(packet, len, &h)) {
        if (h.name[NETLINK_NAME_MAX] != 0)
            __builtin_trap();
        if (netlink_devices_hello(h, (int64_t)len))
            netlink_devices_publish(0x0a000001);
        if (netlink_devices_count() > NETLINK_DEVICES_MAX)
            __builtin_trap();
    }
    netlink_link_lines(packet, len, groups, check_line, nullptr);
    return 0;
}
