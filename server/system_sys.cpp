#include "system_sys.h"

#include <cstring>

#include "log.h"
#include "report.h"
#include "system.h"
#include "system_bus.h"
#include "system_out.h"
#include "wlan.h"

namespace {

// Settings words whose negative value only asks for the report.
void set_word(int32_t *field, int report_id, int conn, int value)
{
    if (value < 0) {
        report_device(report_id, conn, 0, REPORT_VALUE_QUERY);
        return;
    }
    *field = value;
    report_device(report_id, conn);
}

}  // namespace

void system_sys_service_mode(int conn, int flag)
{
    my_sys->service_mode = flag != 0;
    report_device(20, conn);
}

bool system_net_address_valid(const int a[4])
{
    for (int i = 0; i < 4; i++)
        if (a[i] < 0 || a[i] > 255)
            return false;
    if (a[0] == 0 || a[3] == 0 || a[0] == 127 || a[0] >= 224)
        return false;
    // 192.88.99.0/24: the 6to4 relay anycast block.
    return !(a[0] == 192 && a[1] == 88 && a[2] == 99);
}

void system_net_set_network(int conn, int, int mode, const int ip[4], int netmask_bits, const int gateway[4])
{
    if (!system_net_address_valid(ip)) {
        log_error("system_net_set_network: invalid ip address\n");
        return;
    }
    bool no_gateway = gateway[0] == 0 && gateway[1] == 0 && gateway[2] == 0 && gateway[3] == 0;
    if (!no_gateway && !system_net_address_valid(gateway)) {
        log_error("system_net_set_network: invalid gateway address\n");
        return;
    }
    if (netmask_bits < 8 || netmask_bits > 24) {
        log_error("system_net_set_network: netmask_bits out of range\n");
        return;
    }
    my_sys->net_flags = mode & 0xff;
    for (int i = 0; i < 4; i++) {
        my_sys->ip[i] = ip[i];
        my_sys->gateway[i] = gateway[i];
    }
    my_sys->netmask_bits = netmask_bits;
    report_device(21, conn);
}

void system_sys_device_name(int conn, const char *name)
{
    if (name == nullptr) {
        log_error("system_sys_device_name: name==NULL\n");
        return;
    }
    char *field = my_sys->device_name;
    if (name[0] == 0) {
        memset(field, 0, SYS_LABEL_SIZE);
        device_default_name(field, SYS_LABEL_SIZE);
    } else {
        size_t n = strnlen(name, SYS_LABEL_MAX);
        memcpy(field, name, n);
        memset(field + n, 0, SYS_LABEL_SIZE - n);
    }
    report_device(22, conn);
}

void system_misc_set_delayunit(int conn, int unit, float kelvin)
{
    if ((unsigned)unit > DELAY_UNIT_MS) {
        log_error("system_misc_set_delayunit: delay_unit out of range\n");
        return;
    }
    if (!(kelvin >= 233.15f && kelvin <= 323.15f)) {
        log_error("system_misc_set_delayunit: delay_temp out of range (%1.3f)\n", kelvin);
        return;
    }
    my_sys->delay_unit = unit;
    my_sys->temperature = kelvin;
    report_device(23, conn);
    system_out_recompute_delays(conn);
    // A bus delay is 0 in every unit: in milliseconds there is nothing to follow.
    if (unit != DELAY_UNIT_MS)
        system_bus_recompute_delays(conn);
}

void system_misc_set_amplifiers(int conn, int o, int gain, int peak_voltage)
{
    if ((unsigned)o >= SYS_OUTPUTS) {
        log_error("system_misc_set_amplifiers: outid out of range\n");
        return;
    }
    if (gain < 0 || gain > 48) {
        log_error("system_misc_set_amplifiers: gain out of range\n");
        return;
    }
    if (peak_voltage < 20 || peak_voltage > 100000000) {
        log_error("system_misc_set_amplifiers: peak_voltage out of range\n");
        return;
    }
    my_sys->amp[o].gain = gain;
    my_sys->amp[o].peak_voltage = peak_voltage;
    report_device(24, conn, o);
}

void system_sys_firmware_update(int conn, int key)
{
    if (key != SYSTEM_FIRMWARE_KEY) {
        log_error("system_sys_firmware_update: wrong key\n");
        return;
    }
    report_device(26, conn, key);
}

void system_sys_keylock(int conn, int value)
{
    set_word(&my_sys->key_lock, 27, conn, value);
}

void system_sys_flags(int conn, int value)
{
    set_word(&my_sys->system_flags, 62, conn, value);
}

void system_sys_digitalmode(int conn, int value)
{
    set_word(&my_sys->digital_mode, 63, conn, value);
}

void system_sys_wlan_passphrase(int conn, const char *text)
{
    if (text == nullptr) {
        log_error("system_sys_wlan_passphrase: passphrase==NULL\n");
        return;
    }
    if (text[0] != 0 && !wlan_passphrase_valid(text)) {
        // The access point would refuse it and the WLAN would be gone.
        log_error("system_sys_wlan_passphrase: passphrase needs 8 to 63 printable characters\n");
        report_message(conn, "WLAN password needs\n8 to 63 characters.", 1);
        return;
    }
    if (wlan_set_passphrase(text) != 0) {
        report_message(conn, "WLAN password\nnot stored.", 1);
        return;
    }
    report_device(112, conn);
}

void system_ply_seek(int, int pos_s)
{
    if (pos_s < 0)
        log_error("system_ply_seek: pos_s out of range\n");
}

void system_ply_volume(int, float gain)
{
    if (!(gain >= -144.0f && gain <= 10.0f))
        log_error("system_ply_volume: gain out of range\n");
}
