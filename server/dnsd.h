// A minimal authoritative DNS responder: A and PTR answers for the linked
// devices (names learnt from their hellos) and a wildcard that sends every
// other name to this device, so any address typed into a browser on the
// device's network leads to it.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t DNSD_PACKET_MAX = 512;   // longest query and reply (plain UDP DNS)
constexpr size_t DNSD_HEADER = 12;
constexpr uint32_t DNSD_TTL = 120;        // seconds
constexpr uint16_t DNSD_TYPE_A = 1;
constexpr uint16_t DNSD_TYPE_PTR = 12;
constexpr uint16_t DNSD_CLASS_IN = 1;
constexpr size_t DNSD_NAME_MAX = 255;     // wire form, terminating zero included
constexpr size_t DNSD_LABEL_MAX = 63;
// Names a table holds: two for each of 64 linked devices and the wildcard.
constexpr size_t DNSD_TABLE_MAX = 129;

// One name of the table and its address as dotted text.
struct dnsd_pair {
    const char *name;
    const char *address;
};

// Creates the socket (with the reception of each datagram's destination
// address), binds it to the DNS port and starts the responder thread.
void dnsd_init();

// Builds a new table from the pairs, in their order, and replaces the old one.
// A pair whose address does not parse, or whose name cannot be a DNS name, is
// left out with a diagnostic naming its number (from 1); so are the pairs
// past DNSD_TABLE_MAX.
void dnsd_set_table(const dnsd_pair *pairs, size_t count);

// Answering (1, the state at start) or ignoring every query (0).
void dnsd_set_enabled(int flag);

// The reply to one received datagram (query of len bytes) against the current
// table, written to reply; returns its length, 0 when nothing is to be sent.
// Writes the responder's diagnostics for bad datagrams.
size_t dnsd_reply(const uint8_t *query, size_t len, uint8_t reply[DNSD_PACKET_MAX]);

// The question name of a query in wire form: labels of 1 to 63 bytes read
// within the datagram, ending in a zero byte. Returns the name's length with
// its zero, or 0 when the name is malformed (compression pointer, label too
// long, no end inside the datagram, longer than DNSD_NAME_MAX).
size_t dnsd_question_name(const uint8_t *packet, size_t len, size_t offset);

// Text "a.b.c" to wire form ("\1a\1b\1c\0"); returns the length, 0 when the
// text is no DNS name (empty label, label over 63 bytes, too long).
size_t dnsd_wire_name(const char *text, uint8_t out[DNSD_NAME_MAX]);
