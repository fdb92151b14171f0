#include "system_converter.h"

#include <cstdlib>
#include <cstring>

#include "crc.h"
#include "log.h"
#include "system.h"

namespace {

// Version-102 layout: byte offsets in the file.
constexpr size_t V102_PROJECT_ID = 8;
constexpr size_t V102_LABEL = 12;
constexpr size_t V102_DESCRIPTION = 216;
constexpr size_t V102_MODIFIED = 4316;
constexpr size_t V102_PROJECT_LOCK = 4320;
constexpr size_t V102_BUSES = 4328;
constexpr size_t V102_BUS_BYTES = 508;
constexpr size_t V102_OUTPUTS = 8392;
constexpr size_t V102_OUTPUT_BYTES = 1300;
constexpr size_t V102_IP = 18792;
constexpr size_t V102_GATEWAY = 18808;
constexpr size_t V102_NETMASK = 18824;
constexpr size_t V102_NET_FLAGS = 18828;
constexpr size_t V102_DEVICE_NAME = 18832;
constexpr size_t V102_SERVICE_MODE = 19036;
constexpr size_t V102_DELAY_UNIT = 19040;
constexpr size_t V102_TEMPERATURE = 19044;
constexpr size_t V102_KEY_LOCK = 19048;
constexpr size_t V102_DIGITAL_MODE = 19052;
constexpr size_t V102_SYSTEM_FLAGS = 19056;
constexpr size_t V102_AMPS = 19060;
constexpr size_t V102_CRC = 19128;
constexpr size_t V102_FILTER_BYTES = 56;

uint32_t get_u32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

template <typename T>
void get(T *dst, const uint8_t *src)
{
    memcpy(dst, src, sizeof *dst);
}

float get_float(const uint8_t *p)
{
    float f;
    memcpy(&f, p, 4);
    return f;
}

void convert_bus(sys_bus *b, const uint8_t *p, double ms_per_m)
{
    get(&b->gain, p + 0);
    get(&b->phase, p + 4);
    get(&b->delay_m, p + 8);
    b->delay_ms = (float)(b->delay_m * ms_per_m);
    get(&b->comp_thres, p + 16);
    get(&b->comp_ratio, p + 20);
    get(&b->comp_knee, p + 24);
    get(&b->peak_overshoot, p + 28);
    get(&b->eq_flags, p + 32);
    get(&b->geq, p + 36);
    get(&b->peq, p + 160);
    get(&b->shelf, p + 240);
    get(&b->highpass, p + 272);
    get(&b->label, p + 288);
    get(&b->mute, p + 492);
    get(&b->patch, p + 496);
    get(&b->group_local, p + 500);
    get(&b->group_net, p + 504);
    // version 102 had no compressor time constants
    b->comp_attack = 50.0f;
    b->comp_release = 80.0f;
    b->peak_release = 0.0f;
}

void convert_output(sys_output *o, const uint8_t *p, double ms_per_m)
{
    get(&o->gain, p + 0);
    get(&o->phase, p + 4);
    get(&o->delay_m, p + 8);
    o->delay_ms = (float)(get_float(p + 12) * ms_per_m);
    get(&o->eq_flags, p + 16);
    get(&o->peq, p + 20);
    get(&o->shelf, p + 84);
    get(&o->highpass, p + 116);
    get(&o->label, p + 132);
    get(&o->bus_input, p + 336);
    get(&o->group_local, p + 340);
    get(&o->group_net, p + 344);
    get(&o->id_lsp, p + 348);
    get(&o->group_lsp, p + 352);
    memcpy(&o->lsp, p + 360, 24);  // the six integers
    get(&o->lsp.label, p + 384);
    memcpy(&o->way, p + 588, 28);  // way index to the first reserved word
    for (int i = 0; i < SYS_WAY_SECTIONS; i++) {
        const uint8_t *f = p + 620 + V102_FILTER_BYTES * i;
        filter_record *r = &o->way.sections[i];
        memcpy(r->coef_block, f, 28);
        get(&r->flags, f + 28);
        double *coef[6] = {&r->a0, &r->a1, &r->a2, &r->b0, &r->b1, &r->b2};
        for (int k = 0; k < 6; k++)
            *coef[k] = (double)get_float(f + 32 + 4 * k);
    }
    o->way.rms_time = 35.0f;
    o->way.attack = 10.0f;
    o->way.release = 60.0f;
    o->way.peak_release = 0.0f;
    get(&o->mute, p + 1292);
}

}  // namespace

size_t system_converter_102(uint8_t *buf, size_t len)
{
    if (len < SYS_FILE_102_BYTES)
        return 0;
    if (get_u32(buf) != SYS_FILE_MAGIC) {
        log_error("system_converter_102: file type error (wrong magic)\n");
        return 0;
    }
    if (crc32(buf, V102_CRC) != get_u32(buf + V102_CRC)) {
        log_error("system_converter_102: file crc error\n");
        return 0;
    }
    if (get_u32(buf + 4) != 102) {
        log_error("system_converter_102: file version error\n");
        return 0;
    }
    struct work {
        uint8_t old[SYS_FILE_102_BYTES];
        sys_file rec;
    };
    work *w = (work *)calloc(1, sizeof(work));
    if (w == nullptr) {
        log_error("system_converter_102: memory allocation errorr\n");
        return 0;
    }
    memcpy(w->old, buf, SYS_FILE_102_BYTES);
    const uint8_t *old = w->old;
    sys_file *rec = &w->rec;

    get(&rec->project_id, old + V102_PROJECT_ID);
    get(&rec->project_label, old + V102_LABEL);
    get(&rec->project_description, old + V102_DESCRIPTION);
    get(&rec->modified, old + V102_MODIFIED);
    get(&rec->project_lock, old + V102_PROJECT_LOCK);

    double ms_per_m = 1.0 / (system_speed_of_sound(get_float(old + V102_TEMPERATURE)) * 0.001);
    for (int i = 0; i < SYS_BUSES; i++)
        convert_bus(&rec->bus[i], old + V102_BUSES + V102_BUS_BYTES * i, ms_per_m);
    for (int i = 0; i < SYS_OUTPUTS; i++)
        convert_output(&rec->out[i], old + V102_OUTPUTS + V102_OUTPUT_BYTES * i, ms_per_m);

    get(&rec->ip, old + V102_IP);
    get(&rec->gateway, old + V102_GATEWAY);
    get(&rec->netmask_bits, old + V102_NETMASK);
    get(&rec->net_flags, old + V102_NET_FLAGS);
    get(&rec->device_name, old + V102_DEVICE_NAME);
    get(&rec->service_mode, old + V102_SERVICE_MODE);
    get(&rec->delay_unit, old + V102_DELAY_UNIT);
    get(&rec->temperature, old + V102_TEMPERATURE);
    get(&rec->key_lock, old + V102_KEY_LOCK);
    get(&rec->digital_mode, old + V102_DIGITAL_MODE);
    get(&rec->system_flags, old + V102_SYSTEM_FLAGS);
    for (int i = 0; i < SYS_OUTPUTS; i++) {
        get(&rec->amp[i].gain, old + V102_AMPS + 8 * i);
        get(&rec->amp[i].peak_voltage, old + V102_AMPS + 8 * i + 4);
    }

    memset(buf, 0, SYS_FILE_BYTES);
    uint32_t header[2] = {SYS_FILE_MAGIC, SYS_FILE_VERSION};
    memcpy(buf, header, sizeof header);
    memcpy(buf + SYS_FILE_RECORD_OFFSET, rec, sizeof(sys_file));
    uint32_t crc = crc32(buf, SYS_FILE_CRC_OFFSET);
    memcpy(buf + SYS_FILE_CRC_OFFSET, &crc, 4);
    free(w);
    return SYS_FILE_BYTES;
}
