#include "dns_query.h"

#include <cstdio>

namespace {

void put16(dns_bytes *b, uint16_t v)
{
    b->push_back((uint8_t)(v >> 8));
    b->push_back((uint8_t)v);
}

uint16_t get16(const dns_bytes &b, size_t at)
{
    return (uint16_t)(b[at] << 8 | b[at + 1]);
}

// Length of the uncompressed name at offset, its zero included; 0 if cut.
size_t name_len(const dns_bytes &b, size_t at)
{
    size_t p = at;
    while (p < b.size() && b[p] != 0 && b[p] < 64)
        p += 1 + b[p];
    return p < b.size() && b[p] == 0 ? p + 1 - at : 0;
}

}  // namespace

dns_bytes dns_wire(const std::string &name)
{
    dns_bytes out;
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            dot = name.size();
        out.push_back((uint8_t)(dot - start));
        out.insert(out.end(), name.begin() + (long)start, name.begin() + (long)dot);
        start = dot + 1;
    }
    out.push_back(0);
    return out;
}

dns_bytes dns_query(uint16_t id, const std::string &name, uint16_t type)
{
    dns_bytes q;
    put16(&q, id);
    q.push_back(0x01);  // RD
    q.push_back(0x00);
    put16(&q, 1);
    put16(&q, 0);
    put16(&q, 0);
    put16(&q, 0);
    dns_bytes w = dns_wire(name);
    q.insert(q.end(), w.begin(), w.end());
    put16(&q, type);
    put16(&q, 1);
    return q;
}

bool dns_parse(const dns_bytes &r, dns_answer *a)
{
    if (r.size() < 12)
        return false;
    a->id = get16(r, 0);
    a->flags1 = r[2];
    a->flags2 = r[3];
    a->qd = get16(r, 4);
    a->an = get16(r, 6);
    a->ns = get16(r, 8);
    a->ar = get16(r, 10);
    size_t q = name_len(r, 12);
    if (q == 0 || 12 + q + 4 > r.size())
        return false;
    a->question.assign(r.begin() + 12, r.begin() + 12 + (long)q + 4);
    size_t at = 12 + q + 4;
    size_t n = name_len(r, at);
    if (n == 0 || at + n + 10 > r.size())
        return false;
    a->name.assign(r.begin() + (long)at, r.begin() + (long)(at + n));
    at += n;
    a->type = get16(r, at);
    a->klass = get16(r, at + 2);
    a->ttl = (uint32_t)get16(r, at + 4) << 16 | get16(r, at + 6);
    uint16_t len = get16(r, at + 8);
    at += 10;
    if (at + len != r.size())
        return false;
    a->data.assign(r.begin() + (long)at, r.end());
    return true;
}

std::string dns_a_text(const dns_bytes &d)
{
    if (d.size() != 4)
        return "?";
    char buf[16];
    snprintf(buf, sizeof buf, "%u.%u.%u.%u", d[0], d[1], d[2], d[3]);
    return buf;
}
