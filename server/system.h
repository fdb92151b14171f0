// The device state: one flat record, sys_file, which is also the payload of
// the state file. Its byte layout is a file format, pinned below.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "dsp/filter.h"

constexpr int SYS_BUSES = 8;
constexpr int SYS_OUTPUTS = 8;
constexpr int SYS_GEQ_BANDS = 31;
constexpr int SYS_BUS_PEQ_BANDS = 5;
constexpr int SYS_OUT_PEQ_BANDS = 4;
constexpr int SYS_WAY_SECTIONS = 12;
constexpr int SYS_LABEL_SIZE = 204;   // at most 200 characters used
constexpr int SYS_LABEL_MAX = 200;
constexpr int SYS_DESCRIPTION_SIZE = 4100;  // at most 4096 characters used
constexpr int SYS_DESCRIPTION_MAX = 4096;

// Section bypass bits of eq_flags: a set bit bypasses the section.
constexpr int32_t EQ_FLAG_GEQ = 0x4;
constexpr int32_t EQ_FLAG_PEQ = 0x20;
constexpr int32_t EQ_FLAG_SHELF = 0x100;
constexpr int32_t EQ_FLAG_HIGHPASS = 0x800;

// Delay units of the delay-unit field.
constexpr int32_t DELAY_UNIT_METRES = 0;
constexpr int32_t DELAY_UNIT_FEET = 1;
constexpr int32_t DELAY_UNIT_MS = 2;

struct sys_peq {
    float freq;  // Hz
    float q;
    float gain;  // dB
    int32_t bypass;
};

struct sys_shelf {
    float freq;
    float gain;
    int32_t bypass;
    int32_t reserved;
};

struct sys_highpass {
    float freq;
    int32_t kind;  // 0 off, 1 BW24, 2 LR24, 3 BW12, 4 LR12
    int32_t bypass;
    int32_t reserved;
};

struct sys_bus {
    float gain;
    int32_t phase;
    float delay_m;
    float delay_ms;
    float comp_thres;
    float comp_ratio;
    float comp_knee;
    float peak_overshoot;
    float comp_attack;
    float comp_release;
    float peak_release;
    int32_t eq_flags;
    uint8_t reserved0[32];
    float geq[SYS_GEQ_BANDS];
    sys_peq peq[SYS_BUS_PEQ_BANDS];
    sys_shelf shelf[2];  // 0 low, 1 high
    sys_highpass highpass;
    char label[SYS_LABEL_SIZE];
    int32_t mute;
    int32_t patch;  // bit mask of physical inputs
    int32_t group_local;
    int32_t group_net;
    uint8_t reserved1[32];
};

// Loudspeaker summary of an output group's preset.
struct sys_lsp_summary {
    int32_t id;
    int32_t id_parent;
    int32_t is_folder;
    int32_t locked;
    int32_t ways;
    int32_t version;
    char label[SYS_LABEL_SIZE];
    uint8_t reserved[32];
};

// One output's way of its group's preset: the way record from its index on.
struct sys_way {
    int32_t way_index;  // 0 full range, 1 high, 2 mid, 3 low, 4 sub
    float gain;
    int32_t polarity;
    float delay;  // ms
    float rms_limit;
    float peak_limit;
    int32_t reserved0[2];
    filter_record sections[SYS_WAY_SECTIONS];
    float rms_time;
    float attack;
    float release;
    float peak_release;
    uint8_t reserved1[16];
};

struct sys_output {
    float gain;
    int32_t phase;
    float delay_m;
    float delay_ms;
    int32_t eq_flags;
    sys_peq peq[SYS_OUT_PEQ_BANDS];
    sys_shelf shelf[2];
    sys_highpass highpass;
    char label[SYS_LABEL_SIZE];
    int32_t bus_input;
    int32_t group_local;
    int32_t group_net;
    int32_t id_lsp;
    int32_t group_lsp;
    int32_t reserved0;
    sys_lsp_summary lsp;
    int32_t reserved1;
    sys_way way;
    int32_t mute;
    uint8_t reserved2[36];
};

struct sys_amp {
    int32_t gain;          // 0 to 48
    int32_t peak_voltage;  // 20 to 100000000
    uint8_t reserved[16];
};

struct sys_file {
    int32_t project_id;
    char project_label[SYS_LABEL_SIZE];
    char project_description[SYS_DESCRIPTION_SIZE];
    int32_t modified;
    int32_t project_lock;
    uint8_t reserved0[36];
    sys_bus bus[SYS_BUSES];
    sys_output out[SYS_OUTPUTS];
    int32_t ip[4];       // one octet each, most significant first
    int32_t gateway[4];
    int32_t netmask_bits;
    int32_t net_flags;
    uint8_t reserved1[32];
    char device_name[SYS_LABEL_SIZE];
    int32_t service_mode;
    int32_t delay_unit;
    float temperature;  // kelvin
    int32_t key_lock;
    int32_t digital_mode;
    int32_t system_flags;
    sys_amp amp[SYS_OUTPUTS];
    uint8_t reserved2[68];
};

// The record is the file format: pin every size and offset.
static_assert(std::is_standard_layout_v<sys_file> && std::is_trivially_copyable_v<sys_file>);
static_assert(sizeof(sys_peq) == 16 && sizeof(sys_shelf) == 16 && sizeof(sys_highpass) == 16);
static_assert(sizeof(sys_bus) == 584);
static_assert(offsetof(sys_bus, delay_ms) == 12 && offsetof(sys_bus, comp_thres) == 16);
static_assert(offsetof(sys_bus, peak_release) == 40 && offsetof(sys_bus, eq_flags) == 44);
static_assert(offsetof(sys_bus, geq) == 80 && offsetof(sys_bus, peq) == 204);
static_assert(offsetof(sys_bus, shelf) == 284 && offsetof(sys_bus, highpass) == 316);
static_assert(offsetof(sys_bus, label) == 332 && offsetof(sys_bus, mute) == 536);
static_assert(offsetof(sys_bus, patch) == 540 && offsetof(sys_bus, group_local) == 544);
static_assert(offsetof(sys_bus, group_net) == 548 && offsetof(sys_bus, reserved1) == 552);
static_assert(sizeof(sys_lsp_summary) == 260 && offsetof(sys_lsp_summary, ways) == 16);
static_assert(offsetof(sys_lsp_summary, label) == 24);
static_assert(sizeof(sys_way) == 1024 && offsetof(sys_way, sections) == 32);
static_assert(offsetof(sys_way, rms_time) == 992 && offsetof(sys_way, peak_release) == 1004);
static_assert(offsetof(sys_way, reserved1) == 1008);
static_assert(sizeof(sys_output) == 1688);
static_assert(offsetof(sys_output, eq_flags) == 16 && offsetof(sys_output, peq) == 20);
static_assert(offsetof(sys_output, shelf) == 84 && offsetof(sys_output, highpass) == 116);
static_assert(offsetof(sys_output, label) == 132 && offsetof(sys_output, bus_input) == 336);
static_assert(offsetof(sys_output, group_local) == 340 && offsetof(sys_output, group_net) == 344);
static_assert(offsetof(sys_output, id_lsp) == 348 && offsetof(sys_output, group_lsp) == 352);
static_assert(offsetof(sys_output, lsp) == 360 && offsetof(sys_output, reserved1) == 620);
static_assert(offsetof(sys_output, way) == 624 && offsetof(sys_output, mute) == 1648);
static_assert(sizeof(sys_amp) == 24);
static_assert(offsetof(sys_file, project_label) == 4 && offsetof(sys_file, project_description) == 208);
static_assert(offsetof(sys_file, modified) == 4308 && offsetof(sys_file, project_lock) == 4312);
static_assert(offsetof(sys_file, bus) == 4352 && offsetof(sys_file, out) == 9024);
static_assert(offsetof(sys_file, ip) == 22528 && offsetof(sys_file, gateway) == 22544);
static_assert(offsetof(sys_file, netmask_bits) == 22560 && offsetof(sys_file, net_flags) == 22564);
static_assert(offsetof(sys_file, device_name) == 22600 && offsetof(sys_file, service_mode) == 22804);
static_assert(offsetof(sys_file, delay_unit) == 22808 && offsetof(sys_file, temperature) == 22812);
static_assert(offsetof(sys_file, key_lock) == 22816 && offsetof(sys_file, digital_mode) == 22820);
static_assert(offsetof(sys_file, system_flags) == 22824 && offsetof(sys_file, amp) == 22828);
static_assert(offsetof(sys_file, reserved2) == 23020 && sizeof(sys_file) == 23088);

// State file: magic and version header, the record, a reserved word, CRC-32.
constexpr uint32_t SYS_FILE_MAGIC = 54223;
constexpr uint32_t SYS_FILE_VERSION = 220;
constexpr size_t SYS_FILE_BYTES = 23104;
constexpr size_t SYS_FILE_RECORD_OFFSET = 8;
constexpr size_t SYS_FILE_CRC_OFFSET = 23100;
constexpr const char *SYS_FILE_CURRENT = "/mnt/userdata/sys_file.current";
constexpr const char *SYS_FILE_BACKUP = "/mnt/userdata/sys_file.bak";
// A new generation is written here first, then renamed to the current file.
constexpr const char *SYS_FILE_TEMP = "/mnt/userdata/sys_file.tmp";
constexpr unsigned SYS_FILE_MODE = 0644;

// The built-in loudspeaker entry 0 every output group starts with.
constexpr const char *SYS_LSP_DIRECT_LABEL = "Direct%20Out";
constexpr int32_t SYS_LSP_DIRECT_LOCK = 5247913;

// The one live record, allocated by system_init and never freed.
extern sys_file *my_sys;
// The two file buffers (SYS_FILE_BYTES each): save and load.
extern uint8_t *my_filesavebuf;
extern uint8_t *my_fileloadbuf;

// Allocates the record and the buffers, writes the defaults, loads the state
// file over them. 0, or -1 after a diagnostic line when an allocation fails.
int system_init();

// Writes every default of both revisions into the record.
void system_defaults(sys_file *s);

// Loads the state file over the live record; when the current file cannot
// be opened or fails a check, the backup (one diagnostic line says so).
void system_load_state();

// Writes the live record as the current state file, keeping the previous
// valid generation as backup (system_state_image, then system_save_file).
void system_save_state();

// The state file image of the live record: header, record, CRC
// (SYS_FILE_BYTES at file). Caller holds the command lock.
void system_state_image(uint8_t *file);
// The image in two steps: the copy of the record (under the command lock)
// and the CRC (whenever, by whoever writes the file).
void system_state_snapshot(uint8_t *file);
void system_state_seal(uint8_t *file);

// Saves a file image as the new current generation so that no power cut can
// lose the settings: the image goes to a temporary file in the same folder,
// which is synced; the current file becomes the backup only when it is a
// valid generation; the temporary file is renamed to the current one and
// the folder synced. Mode 0644. Every failed step is reported; returns 0,
// or -1 when the new generation could not be installed (the files on disk
// then still hold the previous ones). Needs no lock: it reads only file,
// and saves of several threads take their turns.
int system_save_file(const uint8_t *file, size_t len);

// Reads the eth0 MAC address through the shell; 0 on success, -1 otherwise.
int device_mac(uint8_t mac[6]);

// Low 16 bits of the MAC address: the device number that names the device.
int system_device_number();

// "KARU8-%d" with the device number.
void device_default_name(char *buf, size_t size);

// Installs the built-in one-way preset "Direct%20Out" (summary and way 0)
// into an output.
void system_default_preset(sys_output *o);

// Speed of sound in m/s at the temperature in kelvin.
double system_speed_of_sound(double kelvin);
