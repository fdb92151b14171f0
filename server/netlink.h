// Device linking: the UDP link socket shared by announcements, the listener
// and the broadcast of link-group changes.
#pragma once
#include <cstddef>
#include <cstdint>

// The link socket, -1 until linking is up.
extern int netlink_socket;
// Where link packets go (network byte order), set with the socket.
extern uint32_t netlink_broadcast_addr;

// Sends one link packet (length includes its terminating NUL) to the
// broadcast address on the link port. Nothing happens without a socket.
void netlink_broadcast(const char *data, size_t length);
