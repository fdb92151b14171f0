// The FPGA: its parameter window ("/dev/fpgabus", mapped), the control port
// ("/dev/spi0"), the mirror my_device of what the FPGA holds, and the upload
// operations that write changed sections and dynamics values.
#pragma once
#include <cstddef>
#include <cstdint>

#include "dsp/curve_cache.h"
#include "dsp/curves.h"
#include "dsp/filter.h"
#include "system.h"

constexpr size_t FPGA_WINDOW_SIZE = 0xF000;  // 61440 bytes
constexpr size_t FPGA_OLD_KERNEL_MAP_SIZE = 0x20000;  // what older drivers insist on mapping
constexpr uint32_t FPGA_DIGITAL_MODE_WORD = 0x00C8;
constexpr uint32_t FPGA_REGION_1 = 0x2000;  // buses
constexpr uint32_t FPGA_REGION_2 = 0x4000;  // buses
constexpr uint32_t FPGA_REGION_3 = 0x6000;  // outputs
constexpr uint32_t FPGA_SLOT_BYTES = 32;
constexpr uint32_t FPGA_DYN_BUS = 0x8000;
constexpr uint32_t FPGA_DYN_OUT = 0x8040;
constexpr uint32_t FPGA_DYN_STRIDE = 128;
constexpr uint32_t FPGA_LEVEL_BUS = 0xA000;
constexpr uint32_t FPGA_LEVEL_OUT = 0xA020;
constexpr uint32_t FPGA_LEVEL_STRIDE = 64;
constexpr uint32_t FPGA_SOURCE_BUS = 0xC000;
constexpr uint32_t FPGA_OUT_DELAY = 0xE000;
constexpr int FPGA_MAX_DELAY_SAMPLES = 16384;

// Coefficient rows (a slot per channel at row + 32 x channel).
constexpr uint32_t ROW_BUS_HPF = 0x2000;        // and 0x2100
constexpr uint32_t ROW_BUS_SHELF = 0x2200;      // low, 0x2300 high
constexpr uint32_t ROW_BUS_PEQ = 0x2400;        // + 0x100 x band
constexpr uint32_t ROW_OUT_PRESET = 0x6000;     // + 0x100 x section
constexpr uint32_t ROW_OUT_HPF = 0x6C00;        // and 0x6D00
constexpr uint32_t ROW_OUT_SHELF = 0x6E00;      // low, 0x6F00 high
constexpr uint32_t ROW_OUT_PEQ = 0x7000;        // + 0x100 x band
uint32_t dsp_geq_row(int band);

constexpr float GEQ_Q = 4.318477f;
constexpr float DSP_GAIN_SILENT = -256.0f;
constexpr float DSP_RATIO_INFINITE = 100000000.0f;

// Control word bits.
constexpr uint16_t CTRL_AUDIO_ENABLE = 0x8000;
constexpr uint16_t CTRL_SERVICE_MODE = 0x4000;
constexpr uint16_t CTRL_DIGITAL_INPUTS = 0x0800;

// Values one dynamics block is written from.
struct dsp_dyn {
    float gain;          // dB
    int32_t polarity;    // non-zero = inverted
    float thres;         // compressor threshold, dB
    float peak_thres;    // dB
    float ratio;         // DSP_RATIO_INFINITE = limiter
    float knee;          // dB
    float attack, release, rms, peak_release;  // ms
};

struct dsp_peq {
    float freq, q, gain;
    int32_t bypass;
    filter_section sec;
};

struct dsp_shelf {
    float freq, gain;
    int32_t bypass;
    filter_section sec;
};

struct dsp_hpf {
    float freq;
    int32_t kind;
    int32_t bypass;
    filter_section sec[2];
};

// What the FPGA holds for one bus.
struct dsp_bus {
    dsp_dyn dyn;          // gain there is the applied one (-256 dB while muted)
    float gain;           // the bus gain as set
    float peak_overshoot;
    float delay_m, delay_ms;
    int32_t group_local, group_net;
    int32_t mute;
    float geq_gain[SYS_GEQ_BANDS];
    filter_section geq[SYS_GEQ_BANDS];
    uint32_t geq_mask[2];  // bit b: band b at its upper / lower frequency
    dsp_peq peq[SYS_BUS_PEQ_BANDS];
    dsp_shelf shelf[2];
    dsp_hpf hpf;
    int32_t eq_flags;
    float curve[CURVE_POINTS];
    curve_cache<CURVE_BUS_SECTIONS> curve_rows;  // what curve was last computed from
};

// What the FPGA holds for one output (and, for group values, its group).
struct dsp_out {
    int32_t group;
    int32_t group_local, group_net;
    dsp_dyn dyn;
    float group_gain;     // the group's gain before the way's gain is added
    int32_t group_phase;
    int32_t mute;
    float delay_m, delay_ms;
    float way_delay;      // the preset way's delay, ms
    int32_t bus_input;
    int32_t id_lsp;
    dsp_peq peq[SYS_OUT_PEQ_BANDS];
    dsp_shelf shelf[2];
    dsp_hpf hpf;
    int32_t eq_flags;
    float curve[CURVE_POINTS];
    curve_cache<CURVE_OUT_SECTIONS> curve_rows;  // of the group, in its first output
};

struct dsp_device {
    dsp_bus bus[SYS_BUSES];
    dsp_out out[SYS_OUTPUTS];
    // Outputs of each group in ascending order, -1 for unused entries.
    int8_t group_table[SYS_OUTPUTS][4];
    // The input-patch message: 0x00, 0x02, then the eight bus patches (16-bit LE).
    uint8_t patch_msg[18];
    // Mirrors of the device settings that drive the control word and reports.
    int32_t digital_mode;
    int32_t system_flags;
    int32_t service_mode;
    int32_t key_lock;
    int32_t delay_unit;
    float temperature;
    char device_name[SYS_LABEL_SIZE];
    int32_t audio_enabled;
    int32_t amp_gain[SYS_OUTPUTS], amp_peak[SYS_OUTPUTS];
    // Alarm mute: active until the cycle counter passes alarm_end; announce
    // asks the device step to report its start.
    int32_t alarm_active;
    uint32_t alarm_end;
    int32_t alarm_announce;
    // Project report mirrors.
    int32_t project_id, project_lock, project_modified, project_stored_lock;
};

extern dsp_device *my_device;
// The FPGA window, FPGA_WINDOW_SIZE bytes. It is device memory: every access
// goes through the 32-bit accessors below, one load or store per word, none
// merged, split or reordered by the compiler.
extern volatile uint32_t *fpga_window;
extern char *linkgroup_buf;  // 1024 bytes: a report behind the link prefix
constexpr size_t LINKGROUP_BUF_SIZE = 1024;
// Milliseconds per metre at the current temperature.
extern float dsp_ms_per_metre;

// Brings up the window, the control port, my_device, the curve grid, the
// real-time buffers, and starts the real-time thread. 0, or -1 after a line.
int dsp_lowlevel_init(int unused);
// Everything dsp_lowlevel_init does but starting the thread (tests drive the
// cycles themselves); may run again on a new simulation root.
int dsp_lowlevel_prepare();

// Graphic band frequency: upper if bit b of mask 0, else lower if bit b of
// mask 1, else nominal.
float dsp_geq_freq(int band, uint32_t mask_upper, uint32_t mask_lower);

// Section uploads: with redesign set the section(s) are designed again from
// the parameters in my_device, then the section or the bypass block goes to
// its slot.
void update_device_bus_geq(int bus, int redesign, int band);
void update_device_bus_peq(int bus, int redesign, int band);
void update_device_bus_shelfeq(int bus, int redesign, int shelf);
void update_device_bus_hpf(int bus, int redesign);
void update_device_out_peq(int out, int redesign, int band);
void update_device_out_shelfeq(int out, int redesign, int shelf);
void update_device_out_hpf(int out, int redesign);
// The twelve preset sections of the output's way.
void update_device_out_preset(int out, const sys_way *way);

// Dynamics block at window offset `block`.
void dsp_dyn_times(uint32_t block, float rate, const dsp_dyn *d);
void dsp_dyn_thresholds(uint32_t block, float rate, const dsp_dyn *d);
void dsp_dyn_gain(uint32_t block, float rate, const dsp_dyn *d);
void dsp_dyn_all(uint32_t block, float rate, const dsp_dyn *d);
inline uint32_t dsp_dyn_bus(int bus) { return FPGA_DYN_BUS + FPGA_DYN_STRIDE * (uint32_t)bus; }
inline uint32_t dsp_dyn_out(int out) { return FPGA_DYN_OUT + FPGA_DYN_STRIDE * (uint32_t)out; }
// The gain word: exactly +-1.0 at 0 dB, else the table power of ten.
float dsp_gain_word(float gain, int polarity);

// Output delays in samples for all outputs, from my_device.
void dsp_write_out_delays();
int dsp_out_delay_samples(int out);
void dsp_write_source_bus(int out, int bus);
// Stores a bus patch in the patch message and sends the whole message.
void dsp_write_patch(int bus, int patch);
// Builds and sends the control word from my_device's mirrors.
void dsp_write_control();
uint16_t dsp_control_word();
// Reads the 4-byte status word; false when nothing could be read.
bool dsp_read_status(uint32_t *status);

// Window access by byte offset (a multiple of 4).
inline uint32_t dsp_window_read32(uint32_t offset) { return fpga_window[offset / 4]; }
inline void dsp_window_write32(uint32_t offset, uint32_t v) { fpga_window[offset / 4] = v; }
float dsp_window_float(uint32_t offset);
void dsp_window_set_float(uint32_t offset, float v);
