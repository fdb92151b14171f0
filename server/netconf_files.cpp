#include "netconf_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/db_text.h"
#include "log.h"
#include "netif.h"
#include "netlink.h"
#include "platform.h"
#include "system.h"

namespace {

constexpr const char *DOMAIN = "karu";
constexpr int AP_CHANNEL = 1;

// What every access point of the device has in common.
constexpr const char *HOSTAPD_FIXED =
    "wpa=2\n"
    "ctrl_interface=/var/run/hostapd\n"
    "driver=rtl871xdrv\n"
    "beacon_int=100\n"
    "hw_mode=g\n"
    "ieee80211n=1\n"
    "wme_enabled=1\n"
    "ht_capab=[SHORT-GI-20][SHORT-GI-40][HT40+]\n"
    "wpa_key_mgmt=WPA-PSK\n"
    "wpa_pairwise=CCMP\n"
    "max_num_sta=8\n"
    "wpa_group_rekey=86400\n"
    "logger_syslog=0\n"
    "logger_stdout=-1\n"
    "logger_stdout_level=3\n";

// Created or truncated with the given permissions; nullptr (after the
// caller's "<who>/fopen" line) when it cannot be.
FILE *open_config(const char *device_path, mode_t mode, const char *who)
{
    int fd = open(platform_path(device_path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    // A file left by an earlier run keeps its mode unless it is set again.
    FILE *f = fd >= 0 && fchmod(fd, mode) == 0 ? fdopen(fd, "w") : nullptr;
    if (f == nullptr) {
        if (fd >= 0)
            close(fd);
        log_error("%s/fopen\n", who);
    }
    return f;
}

void close_config(FILE *f, const char *device_path, const char *who)
{
    bool ok = !ferror(f);
    if (fclose(f) != 0 || !ok)
        log_error("%s: cannot write %s: %s\n", who, platform_path(device_path).c_str(), strerror(errno));
}

}  // namespace

std::string netconf_config_text(std::string_view encoded, size_t max)
{
    std::string plain = db_text_decode(encoded);
    std::string out;
    out.reserve(plain.size());
    for (char c : plain)
        if ((unsigned char)c >= 0x20 && c != 0x7f)
            out += c;
    if (out.size() > max) {
        size_t n = max;
        // Back to the first byte of a UTF-8 sequence.
        while (n > 0 && ((unsigned char)out[n] & 0xc0) == 0x80)
            n--;
        out.resize(n);
    }
    return out;
}

void make_udhcpd_config(int net_flags)
{
    const char *who = "make_udhcpd_config";
    FILE *f = open_config(NETCONF_UDHCPD_CONF, 0644, who);
    if (f == nullptr)
        return;
    fprintf(f, "start %s\n", NETCONF_POOL_START);
    fprintf(f, "end %s\n", NETCONF_POOL_END);
    fprintf(f, "max_leases %s\n", NETCONF_POOL_LEASES);
    fprintf(f, "lease_file %s\n", platform_path(NETCONF_UDHCPD_LEASES).c_str());
    fprintf(f, "pidfile %s\n", platform_path(NETCONF_UDHCPD_PID).c_str());
    fprintf(f, "interface %s\n", NETIF_BRIDGE);
    if (!(net_flags & NET_FLAG_DNS_OFF)) {
        fprintf(f, "option domain %s\n", DOMAIN);
        fprintf(f, "option dns %s\n", NETCONF_SERVER_ADDR);
    }
    fprintf(f, "option subnet %s\n", NETCONF_SERVER_MASK);
    fprintf(f, "option router %s\n", NETCONF_SERVER_ADDR);
    close_config(f, NETCONF_UDHCPD_CONF, who);
}

int make_hostapd_config(const char *device_name, const char *passphrase)
{
    const char *who = "make_hostapd_config";
    if (device_name == nullptr) {
        log_error("%s: no device name\n", who);
        return -1;
    }
    std::string ssid = netconf_config_text(device_name, NETCONF_SSID_MAX);
    if (ssid.empty()) {
        // A name of control characters only: the network still needs one.
        char fallback[SYS_LABEL_SIZE];
        device_default_name(fallback, sizeof fallback);
        ssid = fallback;
    }
    std::string pass = netconf_config_text(passphrase != nullptr ? passphrase : "", SIZE_MAX);
    // It holds the passphrase: readable by its owner only.
    FILE *f = open_config(NETCONF_HOSTAPD_CONF, 0600, who);
    if (f == nullptr)
        return 0;
    fprintf(f, "interface=%s\n", NETIF_WLAN);
    fprintf(f, "bridge=%s\n", NETIF_BRIDGE);
    fprintf(f, "ssid=%s\n", ssid.c_str());
    fprintf(f, "channel=%d\n", AP_CHANNEL);
    fprintf(f, "wpa_passphrase=%s\n", pass.c_str());
    fputs("\n\n", f);
    fputs(HOSTAPD_FIXED, f);
    close_config(f, NETCONF_HOSTAPD_CONF, who);
    return 0;
}
