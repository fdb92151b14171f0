// The network manager's work on the bridge "br0": the addressing of the
// network mode (DHCP server, DHCP client, automatic, static) with its
// daemons, and the WLAN access point that runs while an adapter "wlan0" is
// plugged in. Run by the hello thread, one round after each hello
// (netlink_manage_round); the access point is also reloaded by a command
// that changes the WLAN passphrase.
#pragma once
#include <sys/types.h>

#include "netlink.h"

enum netconf_daemon_id { NETCONF_DHCPD, NETCONF_DHCPC, NETCONF_HOSTAPD, NETCONF_DAEMONS };

// Collects the daemons that ended by themselves. An access point that ended
// no longer counts as running (report 21 is queued).
void netconf_reap();

// Step 1 of a round: brings the bridge into the mode of the settings.
// changed: the mode byte differs from the last applied one. s.changed:
// the settings were reported since the last round (a static address is
// applied again).
void netconf_apply_mode(const netlink_settings &s, bool changed);

// Step 5 of a round: starts the access point when "wlan0" exists and none
// runs, stops it when "wlan0" has gone; either queues report 21.
void netconf_wlan_round();

// Whether the access point runs (bit 0x100 of report 21).
bool netconf_ap_running();

// The WLAN passphrase has changed: a running access point gets the new
// configuration and SIGHUP to reload it. Caller holds the command lock.
void netconf_ap_reload();

// The process id of a daemon, 0 when it does not run.
pid_t netconf_pid(netconf_daemon_id which);

// Stops every daemon and forgets the automatic decision. The server never
// does this; tests and benchmarks do, so that no daemon outlives them.
void netconf_reset();
