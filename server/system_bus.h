// The input-bus operations. Each checks its indexes and value (limits
// inclusive, NaN rejected), writes the bus record and marks the bus with
// report_bus; a rejected call prints one line and changes nothing. The DSP
// side picks the change up in its next cycle.
//
// conn is the requesting connection (0 for the server itself, -127 for a
// linked device); bus indexes are 0 to 7, anything else is rejected.
#pragma once
#include <cstdint>

// The bus delay line holds no delay: the largest bus delay is 0 ms.
constexpr float SYSTEM_BUS_DELAY_MAX_MS = 0.0f;

// Feet of the delay unit, and back.
constexpr double SYSTEM_METRES_PER_FOOT = 0.3048000000012192;
constexpr double SYSTEM_FEET_PER_METRE = 3.280839895;

// A delay limit given in ms, expressed in the delay unit at the current temperature.
double system_delay_limit_in_unit(float max_ms, int unit);
// Range checks shared by the bus and output-group EQ setters, in their
// order; the first value out of range prints "<op>: <what> out of range".
bool system_check_peq(const char *op, int band, int bands, float freq, float q, float gain);
bool system_check_shelf(const char *op, int shelf, float freq, float gain);
// "meter", "feet" or "ms": the unit in the delay setters' range messages.
const char *system_delay_unit_word(int unit);
// Distance and time of a delay given in unit (-0 counts as 0).
void system_delay_convert(float value, int unit, float *delay_m, float *delay_ms);
// A delay after the temperature changed: the time follows the distance (or,
// with keep_time, the distance the time), limited to 0 ... max_ms.
void system_delay_recompute(float *delay_m, float *delay_ms, float max_ms, bool keep_time);

void system_bus_set_mute(int conn, int bus, int mute);
void system_bus_set_gain(int conn, int bus, float gain);
void system_bus_set_phase(int conn, int bus, int phase);
void system_bus_set_comp_thres(int conn, int bus, float thres);
// A ratio above 20 means a limiter and is stored as 1e8.
void system_bus_set_comp_ratio(int conn, int bus, float ratio);
void system_bus_set_comp_knee(int conn, int bus, float knee);
void system_bus_set_peak_overshoot(int conn, int bus, float overshoot);
void system_bus_set_comp_attack(int conn, int bus, float attack_ms);
// An invalid release is reported and replaced by 80 ms.
void system_bus_set_comp_release(int conn, int bus, float release_ms);
void system_bus_set_peak_release(int conn, int bus, float release_ms);
void system_bus_set_patch(int conn, int bus, int patch);
// Stores at most 200 characters; nullptr is rejected, "" clears the label.
void system_bus_set_label(int conn, int bus, const char *label);
void system_bus_set_group_local(int conn, int bus, int group);
void system_bus_set_group_net(int conn, int bus, int group);
void system_bus_set_eq_flags(int conn, int bus, int flags);
void system_bus_geq_reset(int conn, int bus);
void system_bus_set_geq(int conn, int bus, int band, float gain);
void system_bus_set_peq(int conn, int bus, int band, float freq, float q, float gain, int bypass);
void system_bus_set_shelf(int conn, int bus, int shelf, float freq, float gain, int bypass);
void system_bus_set_hpf(int conn, int bus, float freq, int kind, int bypass);
// value in the current delay unit, or in metres when metres is set (project loading).
void system_bus_set_delay(int conn, int bus, float value, int metres);
// Graphic-EQ band masks are the DSP's own: always rejected.
void system_bus_set_geq_ibt(int conn, int bus, uint32_t bits_plus, uint32_t bits_minus);

// Recomputes every bus delay from its distance after the delay unit or the
// temperature changed to metres or feet, and marks each bus with id 60.
void system_bus_recompute_delays(int conn);

// Copy flags of system_bus_copy.
constexpr uint32_t BUS_COPY_PATCH = 0x1;
constexpr uint32_t BUS_COPY_GAIN = 0x2;
constexpr uint32_t BUS_COPY_PHASE = 0x4;
constexpr uint32_t BUS_COPY_DYNAMICS = 0x8;
constexpr uint32_t BUS_COPY_HIGHPASS = 0x10;
constexpr uint32_t BUS_COPY_PEQ = 0x20;
constexpr uint32_t BUS_COPY_SHELF = 0x40;
constexpr uint32_t BUS_COPY_GEQ = 0x80;
constexpr uint32_t BUS_COPY_DELAY = 0x100;

// Copies the flagged sections of bus src onto bus dst through the setters
// (connection 0), takes over the section bits of eq_flags and tells conn
// "Input Bus copied.".
void system_bus_copy(int conn, int dst, int src, uint32_t flags);
