// Device-wide settings: service mode, network address, device name, delay
// unit and temperature, amplifiers, key lock, system flags, digital mode,
// WLAN passphrase, the firmware-update request and the player stubs.
//
// Each operation checks its arguments (a rejected call prints one line and
// changes nothing), stores the setting and raises its device mark; the
// real-time thread reports it and applies what the DSP needs. Device
// settings do not mark the project modified.
#pragma once

// The key that asks for a firmware update from the USB stick.
constexpr int SYSTEM_FIRMWARE_KEY = 517204968;

// Stores flag != 0 (the service mode is off after every state load).
void system_sys_service_mode(int conn, int flag);

// ip and gateway: four octets, most significant first. The address must be
// a usable host address, the gateway one too or 0.0.0.0, the netmask 8 to
// 24 bits; the mode byte keeps its low 8 bits.
void system_net_set_network(int conn, int ignored, int mode, const int ip[4], int netmask_bits,
                            const int gateway[4]);
// Whether four octets form a usable host address.
bool system_net_address_valid(const int octets[4]);

// A non-empty name is stored (at most 200 characters); an empty one brings
// back the default "KARU8-<device number>".
void system_sys_device_name(int conn, const char *name);

// Unit 0 metres, 1 feet, 2 ms; temperature 233.15 to 323.15 K. Every output
// and bus delay follows the new speed of sound.
void system_misc_set_delayunit(int conn, int unit, float kelvin);

// Amplifier of output o: gain 0 to 48 dB, peak voltage 20 to 100000000.
void system_misc_set_amplifiers(int conn, int o, int gain, int peak_voltage);

// The right key asks the real-time thread to prepare the update from the
// USB stick; it reports the result to everyone as 26.
void system_sys_firmware_update(int conn, int key);

// A value >= 0 is stored; a negative one only asks for the report.
void system_sys_keylock(int conn, int value);
void system_sys_flags(int conn, int value);
void system_sys_digitalmode(int conn, int value);

// Percent-encoded passphrase; empty makes a new one.
void system_sys_wlan_passphrase(int conn, const char *text);

// The player has no audio path here: only the range checks remain.
void system_ply_seek(int conn, int pos_s);
void system_ply_volume(int conn, float gain);
