// DNS datagrams for tests: queries as a resolver sends them and the parts of
// an answer the tests look at.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using dns_bytes = std::vector<uint8_t>;

// A standard query (recursion desired) for the dotted name.
dns_bytes dns_query(uint16_t id, const std::string &name, uint16_t type);

// Wire form of a dotted name ("a.b" -> "\1a\1b\0").
dns_bytes dns_wire(const std::string &name);

struct dns_answer {
    uint16_t id = 0;
    uint8_t flags1 = 0, flags2 = 0;
    uint16_t qd = 0, an = 0, ns = 0, ar = 0;
    dns_bytes question;  // name, type and class as echoed
    dns_bytes name;      // the answer's owner name
    uint16_t type = 0, klass = 0;
    uint32_t ttl = 0;
    dns_bytes data;
};

// Reads a reply with one question and one answer (names uncompressed, as
// the responder writes them); false when it is not shaped so.
bool dns_parse(const dns_bytes &reply, dns_answer *a);

// "a.b.c.d" of a 4-byte A record.
std::string dns_a_text(const dns_bytes &data);
