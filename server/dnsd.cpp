#include "dnsd.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include "log.h"
#include "platform.h"

namespace {

// One name of the table, everything in wire form.
struct dnsd_entry {
    uint32_t address;                // network byte order
    uint8_t reverse[16];             // labels "d", "c", "b", "a" of a.b.c.d, no end
    size_t reverse_len;
    uint8_t name[DNSD_NAME_MAX];     // with its terminating zero
    size_t name_len;
    bool wildcard;                   // the single label "*"
};

struct dnsd_table {
    dnsd_entry entry[DNSD_TABLE_MAX];
    size_t count;
};

// Two tables allocated with the process: a new one is built in the spare
// while the responder reads the current one, then the two change places under
// the table lock, which the responder holds for one query. Writers take turns
// on the writer lock.
pthread_mutex_t g_table_lock = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_writer_lock = PTHREAD_MUTEX_INITIALIZER;
dnsd_table g_tables[2];
dnsd_table *g_table = &g_tables[0];
dnsd_table *g_spare = &g_tables[1];
std::atomic<int> g_enabled{1};
int g_socket = -1;

uint16_t be16(const uint8_t *p)
{
    return (uint16_t)(p[0] << 8 | p[1]);
}

uint8_t *put16(uint8_t *p, uint16_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
    return p + 2;
}

uint8_t ascii_lower(uint8_t c)
{
    return c >= 'A' && c <= 'Z' ? (uint8_t)(c + 32) : c;
}

// Wire names compared without regard to letter case. Length bytes are below
// 64 and so never change under the mapping.
bool same_name(const uint8_t *a, size_t a_len, const uint8_t *b, size_t b_len)
{
    if (a_len != b_len)
        return false;
    for (size_t i = 0; i < a_len; i++)
        if (ascii_lower(a[i]) != ascii_lower(b[i]))
            return false;
    return true;
}

// Fills the entry for a parsed address; false when the name is no DNS name.
bool make_entry(in_addr a, const char *name, dnsd_entry *e)
{
    e->address = a.s_addr;
    const uint8_t *octet = (const uint8_t *)&a.s_addr;
    e->reverse_len = 0;
    for (int i = 3; i >= 0; i--) {
        char digits[4];
        int n = snprintf(digits, sizeof digits, "%u", octet[i]);
        e->reverse[e->reverse_len++] = (uint8_t)n;
        memcpy(e->reverse + e->reverse_len, digits, (size_t)n);
        e->reverse_len += (size_t)n;
    }
    e->name_len = dnsd_wire_name(name, e->name);
    e->wildcard = e->name_len == 3 && e->name[0] == 1 && e->name[1] == '*';
    return e->name_len > 0;
}

// The first entry that answers the question; nullptr when none does.
const dnsd_entry *lookup(uint16_t type, const uint8_t *qname, size_t qname_len)
{
    for (size_t i = 0; i < g_table->count; i++) {
        const dnsd_entry &e = g_table->entry[i];
        if (type == DNSD_TYPE_A && (e.wildcard || same_name(e.name, e.name_len, qname, qname_len)))
            return &e;
        // The in-addr.arpa labels behind the reversed octets are not looked at.
        if (type == DNSD_TYPE_PTR && !e.wildcard && qname_len > e.reverse_len &&
            memcmp(qname, e.reverse, e.reverse_len) == 0)
            return &e;
    }
    return nullptr;
}

// Header checks, question, table search and the reply; caller holds the table lock.
size_t answer(const uint8_t *q, size_t len, uint8_t *reply)
{
    if (be16(q + 4) == 0) {
        log_error("packet has 0 queries, ignored\n");
        return 0;
    }
    if (q[2] & 0x80) {
        log_error("response packet, ignored\n");
        return 0;
    }
    if ((q[2] >> 3) & 0x0f)  // opcode: only standard queries
        return 0;
    size_t name_len = dnsd_question_name(q, len, DNSD_HEADER);
    size_t question_end = DNSD_HEADER + name_len + 4;
    if (name_len == 0 || question_end > len)
        return 0;
    const uint8_t *qname = q + DNSD_HEADER;
    uint16_t type = be16(qname + name_len);
    if (be16(qname + name_len + 2) != DNSD_CLASS_IN || (type != DNSD_TYPE_A && type != DNSD_TYPE_PTR))
        return 0;
    const dnsd_entry *e = lookup(type, qname, name_len);
    if (e == nullptr)
        return 0;
    const uint8_t *data = type == DNSD_TYPE_A ? (const uint8_t *)&e->address : e->name;
    size_t data_len = type == DNSD_TYPE_A ? 4 : e->name_len;
    size_t total = question_end + name_len + 10 + data_len;
    if (total > DNSD_PACKET_MAX)
        return 0;

    // Header: the query's id, QR and AA set, the second flag byte as received;
    // one question (kept as asked), one answer, nothing else.
    memcpy(reply, q, question_end);
    reply[2] = (uint8_t)(q[2] | 0x84);
    put16(reply + 4, 1);
    put16(reply + 6, 1);
    put16(reply + 8, 0);
    put16(reply + 10, 0);
    // Answer: the question's name, type and class, TTL, data length, data.
    uint8_t *p = reply + question_end;
    memcpy(p, qname, name_len + 4);
    p += name_len + 4;
    p = put16(p, (uint16_t)(DNSD_TTL >> 16));
    p = put16(p, (uint16_t)DNSD_TTL);
    p = put16(p, (uint16_t)data_len);
    memcpy(p, data, data_len);
    return total;
}

// Sends the reply from the address the query was sent to.
void send_reply(const uint8_t *reply, size_t len, const sockaddr_in &to, const msghdr &query)
{
    in_addr local{};
    bool have_local = false;
    for (cmsghdr *c = CMSG_FIRSTHDR(&query); c != nullptr; c = CMSG_NXTHDR(const_cast<msghdr *>(&query), c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            memcpy(&info, CMSG_DATA(c), sizeof info);
            local = info.ipi_addr;
            have_local = true;
        }
    iovec iov = {const_cast<uint8_t *>(reply), len};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr_in *>(&to);
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    if (have_local) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr *c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst = local;
        memcpy(CMSG_DATA(c), &info, sizeof info);
    }
    sendmsg(g_socket, &msg, MSG_NOSIGNAL);  // a lost answer is asked again
}

void *dnsd_thread(void *)
{
    // One byte more than a query may have, so an oversized one is seen as such.
    uint8_t buf[DNSD_PACKET_MAX + 1];
    uint8_t reply[DNSD_PACKET_MAX];
    for (;;) {
        sockaddr_in from{};
        iovec iov = {buf, sizeof buf};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        // MSG_TRUNC: the datagram's real size, also when it did not fit.
        ssize_t n = recvmsg(g_socket, &msg, MSG_TRUNC);
        if (n < 0)
            continue;
        size_t r = dnsd_reply(buf, (size_t)n, reply);
        if (r > 0)
            send_reply(reply, r, from, msg);
    }
    return nullptr;
}

}  // namespace

size_t dnsd_question_name(const uint8_t *packet, size_t len, size_t offset)
{
    size_t p = offset;
    for (;;) {
        if (p >= len)
            return 0;
        uint8_t label = packet[p];
        if (label == 0)
            return p + 1 - offset;
        if (label > DNSD_LABEL_MAX)  // compression pointer or a reserved kind
            return 0;
        p += 1 + (size_t)label;
        if (p - offset >= DNSD_NAME_MAX)  // no room left for the end
            return 0;
    }
}

size_t dnsd_wire_name(const char *text, uint8_t out[DNSD_NAME_MAX])
{
    size_t len = 0;
    const char *p = text;
    for (;;) {
        const char *dot = strchr(p, '.');
        size_t label = dot != nullptr ? (size_t)(dot - p) : strlen(p);
        if (label == 0 || label > DNSD_LABEL_MAX || len + 1 + label + 1 > DNSD_NAME_MAX)
            return 0;
        out[len++] = (uint8_t)label;
        memcpy(out + len, p, label);
        len += label;
        if (dot == nullptr)
            break;
        p = dot + 1;
    }
    out[len++] = 0;
    return len;
}

void dnsd_init()
{
    int dnsd_socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    log_assert(dnsd_socket >= 0);
    int one = 1;
    int status = setsockopt(dnsd_socket, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
    log_assert(status != -1);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    a.sin_port = htons((uint16_t)platform_dns_port());
    status = bind(dnsd_socket, (sockaddr *)&a, sizeof a);
    log_assert(status != -1);
    g_socket = dnsd_socket;

    pthread_t thread;
    if (pthread_create(&thread, nullptr, dnsd_thread, nullptr) != 0) {
        log_error("dns_start/pdnsd_thread failed\n");
        return;
    }
    pthread_detach(thread);
}

void dnsd_set_table(const dnsd_pair *pairs, size_t count)
{
    pthread_mutex_lock(&g_writer_lock);
    dnsd_table *table = g_spare;
    table->count = 0;
    for (size_t i = 0; i < count; i++) {
        if (table->count == DNSD_TABLE_MAX) {
            log_error("dnsd_set_table: table full at line %u, skipping\n", (unsigned)(i + 1));
            break;
        }
        in_addr a;
        if (inet_pton(AF_INET, pairs[i].address, &a) != 1) {
            log_error("error at line %u, skipping\n", (unsigned)(i + 1));
            continue;
        }
        if (!make_entry(a, pairs[i].name, &table->entry[table->count])) {
            log_error("dnsd_set_table: name at line %u is no DNS name, skipping\n", (unsigned)(i + 1));
            continue;
        }
        table->count++;
    }
    pthread_mutex_lock(&g_table_lock);
    g_spare = g_table;
    g_table = table;
    pthread_mutex_unlock(&g_table_lock);
    pthread_mutex_unlock(&g_writer_lock);
}

void dnsd_set_enabled(int flag)
{
    g_enabled.store(flag != 0 ? 1 : 0);
}

size_t dnsd_reply(const uint8_t *query, size_t len, uint8_t reply[DNSD_PACKET_MAX])
{
    if (len < DNSD_HEADER || len > DNSD_PACKET_MAX) {
        log_error("packet size %d, ignored\n", (int)len);
        return 0;
    }
    // Switched off, or the table is being replaced: the querier asks again.
    if (!g_enabled.load() || pthread_mutex_trylock(&g_table_lock) != 0)
        return 0;
    size_t n = answer(query, len, reply);
    pthread_mutex_unlock(&g_table_lock);
    return n;
}
