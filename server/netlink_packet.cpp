#include "netlink_packet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"

namespace {

constexpr int NETMASK_DEFAULT_BITS = 24;

bool bus_command(int id)
{
    return (id >= 1 && id <= 18) || id == 60 || id == 61;
}

bool group_command(int id)
{
    return id >= 34 && id <= 50;
}

// Copies len bytes into a NUL-terminated buffer of size bytes, cut at the
// first NUL or line end; returns the copy's length.
size_t copy_line(char *out, size_t size, const char *data, size_t len)
{
    size_t n = 0;
    while (n < len && n + 1 < size && data[n] != 0 && data[n] != '\n' && data[n] != '\r')
        n++;
    memcpy(out, data, n);
    out[n] = 0;
    return n;
}

// Runs the line for one local bus or group, or says why it cannot.
bool run_replaced(const char *line, int local, const char *what, netlink_run_fn run, void *ctx)
{
    char replaced[NETLINK_PACKET_MAX + 16];
    if (!netlink_replace_fields(line, local, replaced, sizeof replaced)) {
        log_error("netlink listener_thread: could not replace %s!\n", what);
        return false;
    }
    run(replaced, ctx);
    return true;
}

}  // namespace

size_t netlink_format_hello(char *out, size_t size, uint32_t addr, const char *name)
{
    int n = snprintf(out, size, "%d,0,%u,%u,%u,%u,%s\n", NETLINK_HELLO_ID, addr >> 24, (addr >> 16) & 0xff,
                     (addr >> 8) & 0xff, addr & 0xff, name);
    return n > 0 && (size_t)n < size ? (size_t)n : 0;
}

bool netlink_is_hello(const char *data, size_t len)
{
    return len >= NETLINK_HELLO_MIN && len <= NETLINK_HELLO_MAX && data[0] == '2' && data[1] == '8';
}

bool netlink_parse_hello(const char *data, size_t len, netlink_hello *h)
{
    memset(h, 0, sizeof *h);
    if (!netlink_is_hello(data, len))
        return false;
    char text[NETLINK_HELLO_MAX + 1];
    memcpy(text, data, len);
    text[len] = 0;
    int octet[4] = {0, 0, 0, 0};
    // %64s stores up to 64 characters and the NUL: h->name has room for both.
    sscanf(text, "%*d,%*d,%d,%d,%d,%d,%64s", &octet[0], &octet[1], &octet[2], &octet[3], h->name);
    for (int i = 0; i < 4; i++) {
        if (octet[i] < 0 || octet[i] > 255)
            return false;
        h->addr[i] = (uint8_t)octet[i];
    }
    if (h->name[0] == ',')
        h->name[0] = 0;
    return true;
}

bool netlink_is_link_packet(const char *data, size_t len)
{
    if (len < NETLINK_LINK_MIN)
        return false;
    const unsigned char *b = (const unsigned char *)data;
    return b[3] == 372 - b[0] - b[1];
}

bool netlink_replace_fields(const char *line, int local, char *out, size_t size)
{
    const char *first = strchr(line, ',');
    const char *second = first != nullptr ? strchr(first + 1, ',') : nullptr;
    const char *third = second != nullptr ? strchr(second + 1, ',') : nullptr;
    if (third == nullptr)
        return false;
    int head = (int)(first + 1 - line);
    int n = snprintf(out, size, "%.*s0,%d%s", head, line, local, third);
    return n > 0 && (size_t)n < size;
}

int netlink_link_lines(const char *data, size_t len, const netlink_groups &groups, netlink_run_fn run, void *ctx)
{
    if (!netlink_is_link_packet(data, len))
        return 0;
    char line[NETLINK_PACKET_MAX];
    copy_line(line, sizeof line, data + NETLINK_LINK_HEADER, len - NETLINK_LINK_HEADER);
    int id = atoi(line);
    // The group digit: "0" plus the group number. A negative group ("/") is
    // never matched, as every bus outside a link group carries -1.
    int group = (unsigned char)data[2] - '0';
    if (group < 0)
        return 0;
    int count = 0;
    if (bus_command(id)) {
        for (int b = 0; b < SYS_BUSES; b++)
            if (groups.bus_net[b] == group && run_replaced(line, b, "bus_id", run, ctx))
                count++;
    } else if (group_command(id)) {
        // Outputs of one group follow each other; each group runs the line once.
        int prev = -2;
        for (int o = 0; o < SYS_OUTPUTS; o++) {
            if (groups.out_net[o] != group)
                continue;
            int g = groups.out_group[o];
            if (g != prev && run_replaced(line, g, "group_lsp", run, ctx))
                count++;
            prev = g;
        }
    }
    return count;
}

uint32_t netlink_broadcast_address(uint32_t own, int net_flags, int netmask_bits)
{
    if (own == 0)
        return 0;
    int bits = (net_flags & NET_MODE_MASK) == NET_MODE_STATIC ? netmask_bits : NETMASK_DEFAULT_BITS;
    return own | ~netlink_netmask(bits);
}

uint32_t netlink_netmask(int bits)
{
    if (bits <= 0)
        return 0;
    if (bits >= 32)
        return 0xffffffffu;
    return 0xffffffffu << (32 - bits);
}
