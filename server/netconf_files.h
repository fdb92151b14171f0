// The configuration files the network manager writes for its daemons: the
// DHCP server's and the WLAN access point's. Device paths, so off the device
// they land under the simulation root.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

constexpr const char *NETCONF_UDHCPD_CONF = "/tmp/udhcpd.conf";
constexpr const char *NETCONF_UDHCPD_LEASES = "/mnt/userdata/udhcpd.leases";
constexpr const char *NETCONF_UDHCPD_PID = "/tmp/udhcpd.pid";
constexpr const char *NETCONF_HOSTAPD_CONF = "/tmp/hostapd.conf";

// The DHCP server's own address and what it hands out.
constexpr const char *NETCONF_SERVER_ADDR = "192.168.5.1";
constexpr const char *NETCONF_SERVER_NET = "192.168.5.0";
constexpr const char *NETCONF_SERVER_MASK = "255.255.255.0";
constexpr const char *NETCONF_POOL_START = "192.168.5.100";
constexpr const char *NETCONF_POOL_END = "192.168.5.199";
constexpr const char *NETCONF_POOL_LEASES = "100";

// A WLAN network name has at most this many bytes.
constexpr size_t NETCONF_SSID_MAX = 32;

// Writes the DHCP server configuration for the network mode byte (bit 4:
// no domain and no DNS server offered). A file that cannot be made is
// logged ("make_udhcpd_config/fopen"); the server is started anyway.
void make_udhcpd_config(int net_flags);

// Writes the access-point configuration: network name from the device name,
// passphrase from the WLAN passphrase (both percent-encoded as stored).
// Returns -1 only when there is no device name; a file that cannot be made
// is logged ("make_hostapd_config/fopen") and the access point started anyway.
int make_hostapd_config(const char *device_name, const char *passphrase);

// A stored text as it may stand on one line of a configuration file:
// percent-decoded, without control characters (a line feed in a device
// name must not add lines of the sender's choosing), cut to at most max
// bytes at a character boundary.
std::string netconf_config_text(std::string_view encoded, size_t max);
