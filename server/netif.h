// The system's network interfaces as device linking and the network manager
// see them. These read the real interface list (of the network namespace the
// server runs in), also off the device.
#pragma once
#include <cstdint>

// The bridge that joins the Ethernet port and the WLAN adapter.
constexpr const char *NETIF_BRIDGE = "br0";
// The WLAN adapter, present while plugged in.
constexpr const char *NETIF_WLAN = "wlan0";

// 1 if the system's interface list holds an interface of that name, else 0.
int get_if_exists(const char *name);

// The IPv4 address of the bridge in host byte order (first octet most
// significant), 0 while it has none.
uint32_t get_if_addr();
