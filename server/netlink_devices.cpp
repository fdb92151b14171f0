#include "netlink_devices.h"

#include <cstdio>
#include <cstring>
#include <pthread.h>

#include "common/db_text.h"
#include "dnsd.h"

static_assert(2 * NETLINK_DEVICES_MAX + 1 <= DNSD_TABLE_MAX, "the DNS table holds every known device");

namespace {

// Written by the listener, read by the network manager when the own address
// changes; fixed storage, allocated with the process.
pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
netlink_device g_devices[NETLINK_DEVICES_MAX];
size_t g_count;
uint32_t g_hellos;

void set_names(netlink_device *d, const char *name)
{
    snprintf(d->name, sizeof d->name, "%s", name);
    snprintf(d->name_decoded, sizeof d->name_decoded, "%s", name);
    db_text_decode(d->name_decoded, sizeof d->name_decoded);
    snprintf(d->name_domain, sizeof d->name_domain, "%s.%s", d->name_decoded, NETLINK_DOMAIN);
}

// Makes room for one more device: drops the one heard least recently and
// closes the gap, so the rest keep their arrival order.
void drop_least_recent()
{
    size_t oldest = 0;
    for (size_t i = 1; i < g_count; i++)
        if (g_devices[i].heard < g_devices[oldest].heard)
            oldest = i;
    memmove(&g_devices[oldest], &g_devices[oldest + 1], (g_count - oldest - 1) * sizeof g_devices[0]);
    g_count--;
}

bool take_hello(const netlink_hello &h, int64_t now)
{
    if (++g_hellos % NETLINK_HELLO_RESET == 0)
        g_count = 0;
    for (size_t i = 0; i < g_count; i++) {
        netlink_device *d = &g_devices[i];
        if (memcmp(d->addr, h.addr, sizeof d->addr) != 0)
            continue;
        d->heard = now;
        if (strcmp(d->name, h.name) == 0)
            return false;
        set_names(d, h.name);
        return true;
    }
    if (g_count == NETLINK_DEVICES_MAX)
        drop_least_recent();
    netlink_device *d = &g_devices[g_count++];
    memcpy(d->addr, h.addr, sizeof d->addr);
    snprintf(d->addr_text, sizeof d->addr_text, "%u.%u.%u.%u", h.addr[0], h.addr[1], h.addr[2], h.addr[3]);
    set_names(d, h.name);
    d->heard = now;
    return true;
}

}  // namespace

bool netlink_devices_hello(const netlink_hello &h, int64_t now)
{
    pthread_mutex_lock(&g_lock);
    bool changed = take_hello(h, now);
    pthread_mutex_unlock(&g_lock);
    return changed;
}

void netlink_devices_publish(uint32_t own)
{
    char own_text[16];
    snprintf(own_text, sizeof own_text, "%u.%u.%u.%u", own >> 24, (own >> 16) & 0xff, (own >> 8) & 0xff, own & 0xff);
    dnsd_pair pairs[2 * NETLINK_DEVICES_MAX + 1];
    pthread_mutex_lock(&g_lock);
    size_t n = 0;
    for (size_t i = 0; i < g_count; i++) {
        pairs[n++] = {g_devices[i].name_decoded, g_devices[i].addr_text};
        pairs[n++] = {g_devices[i].name_domain, g_devices[i].addr_text};
    }
    pairs[n++] = {"*", own_text};
    // The names stay where they are until the responder has its copy.
    dnsd_set_table(pairs, n);
    pthread_mutex_unlock(&g_lock);
}

size_t netlink_devices_count()
{
    pthread_mutex_lock(&g_lock);
    size_t n = g_count;
    pthread_mutex_unlock(&g_lock);
    return n;
}

bool netlink_devices_get(size_t i, netlink_device *out)
{
    pthread_mutex_lock(&g_lock);
    bool ok = i < g_count;
    if (ok)
        *out = g_devices[i];
    pthread_mutex_unlock(&g_lock);
    return ok;
}

void netlink_devices_clear()
{
    pthread_mutex_lock(&g_lock);
    g_count = 0;
    g_hellos = 0;
    pthread_mutex_unlock(&g_lock);
}
