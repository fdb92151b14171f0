#include "dsp/dsp_lowlevel.h"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "dsp/rt_thread.h"
#include "log.h"
#include "platform.h"
#include "report.h"
#include "system_saver.h"

dsp_device *my_device = nullptr;
volatile uint32_t *fpga_window = nullptr;
char *linkgroup_buf = nullptr;
float dsp_ms_per_metre = 2.911886f;

namespace {

int spi_fd = -1;
// How the window was obtained, so that it is given back the same way.
size_t window_mapped_size;  // 0: ordinary memory
// The output source-bus bytes, written to the window a word at a time.
uint8_t source_bus[SYS_OUTPUTS];

// Three frequencies per graphic band: lower, nominal, upper.
float geq_freq_table[SYS_GEQ_BANDS][3];

void geq_table_init()
{
    for (int b = 0; b < SYS_GEQ_BANDS; b++) {
        double nominal = 1000.0 * std::pow(2.0, (b - 17) / 3.0);
        geq_freq_table[b][0] = (float)(nominal * std::pow(2.0, -1.0 / 9.0));
        geq_freq_table[b][1] = (float)nominal;
        geq_freq_table[b][2] = (float)(nominal * std::pow(2.0, 1.0 / 9.0));
    }
}

void put_float(uint32_t offset, float v)
{
    dsp_window_write32(offset, std::bit_cast<uint32_t>(v));
}

// The seven words of a coefficient block into a slot.
void upload(uint32_t row, int channel, const float coef[7])
{
    uint32_t slot = row + FPGA_SLOT_BYTES * (uint32_t)channel;
    for (uint32_t i = 0; i < 7; i++)
        put_float(slot + 4 * i, coef[i]);
}

// Little-endian bytes into the window, a whole word at a time.
void put_bytes(uint32_t offset, const uint8_t *bytes, size_t n)
{
    for (size_t i = 0; i < n; i += 4)
        dsp_window_write32(offset + (uint32_t)i, (uint32_t)bytes[i] | (uint32_t)bytes[i + 1] << 8 |
                                                     (uint32_t)bytes[i + 2] << 16 | (uint32_t)bytes[i + 3] << 24);
}

// The section, or the bypass block when the stage is bypassed.
const float *source(const filter_section &s, bool bypassed)
{
    return bypassed ? FILTER_BYPASS_BLOCK : s.coef_block;
}

// Word index of an output slot inside region 3.
uint32_t region3_word(uint32_t row, int out)
{
    return 8 * ((row - FPGA_REGION_3) / FPGA_SLOT_BYTES + (uint32_t)out);
}

void design_shelf(dsp_shelf *sh, int which)
{
    if (which == 0)
        filter_low_shelf_slope(&sh->sec, sh->freq, 6.0, sh->gain);
    else if (which == 1)
        filter_high_shelf_slope(&sh->sec, sh->freq, 6.0, sh->gain);
    else
        filter_reset(&sh->sec);
}

// 1 - e^(-1/(t * rate)); in single precision the difference would lose
// most of its digits for long times.
float time_coefficient(float ms, float rate)
{
    return (float)-std::expm1(-1.0 / ((double)ms / 1000.0 * rate));
}

float clampf(float v, float lo, float hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

void init_peq(dsp_peq *p)
{
    p->freq = 17.5f;
    p->q = 1.0f;
    filter_reset_with_response(&p->sec);
}

void init_filters(dsp_shelf shelf[2], dsp_hpf *hpf)
{
    for (int i = 0; i < 2; i++) {
        shelf[i].freq = 17.5f;
        filter_reset_with_response(&shelf[i].sec);
        filter_reset_with_response(&hpf->sec[i]);
    }
    hpf->freq = 17.5f;
}

dsp_dyn start_dyn()
{
    dsp_dyn d{};
    d.gain = DSP_GAIN_SILENT;
    d.ratio = DSP_RATIO_INFINITE;
    d.attack = 50.0f;
    d.release = 80.0f;
    d.rms = 35.0f;
    return d;
}

void init_my_device()
{
    for (int b = 0; b < SYS_BUSES; b++) {
        dsp_bus &bus = my_device->bus[b];
        bus.dyn = start_dyn();
        bus.gain = DSP_GAIN_SILENT;  // so the first pass writes every gain word
        bus.group_local = bus.group_net = -1;
        for (auto &s : bus.geq)
            filter_reset_with_response(&s);
        for (auto &p : bus.peq)
            init_peq(&p);
        init_filters(bus.shelf, &bus.hpf);
    }
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        dsp_out &out = my_device->out[o];
        out.group_local = out.group_net = -1;
        for (auto &g : my_device->group_table[o])
            g = -1;
        out.group = o;
        out.dyn = start_dyn();
        out.group_gain = DSP_GAIN_SILENT;
        for (auto &p : out.peq)
            init_peq(&p);
        init_filters(out.shelf, &out.hpf);
    }
    my_device->patch_msg[0] = 0x00;
    my_device->patch_msg[1] = 0x02;
}

void spi_write(const uint8_t *msg, size_t n)
{
    if (spi_fd < 0)
        return;
    ssize_t w;
    do
        w = write(spi_fd, msg, n);
    while (w < 0 && errno == EINTR);
}

void window_release()
{
    if (fpga_window == nullptr)
        return;
    void *p = (void *)fpga_window;
    if (window_mapped_size != 0)
        munmap(p, window_mapped_size);
    else
        free(p);
    fpga_window = nullptr;
    window_mapped_size = 0;
}

// Maps the FPGA window, falling back to ordinary memory without hardware.
bool window_init()
{
    window_release();
    int fd = open(platform_path("/dev/fpgabus").c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        log_error("dsp_lowlevel_init: error opening fpgabus\n");
    } else {
        size_t size = FPGA_WINDOW_SIZE;
        void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) {
            size = FPGA_OLD_KERNEL_MAP_SIZE;
            p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (p != MAP_FAILED)
                log_error("!!! dsp_lowlevel_init: OLD KERNEL DETECTED.\n");
            else
                log_error("!!! dsp_lowlevel_init: could not map FPGA!\n");
        }
        close(fd);  // a mapping stays valid without the descriptor
        if (p != MAP_FAILED) {
            fpga_window = (volatile uint32_t *)p;
            window_mapped_size = size;
            return true;
        }
    }
    fpga_window = (volatile uint32_t *)calloc(1, FPGA_WINDOW_SIZE);
    if (fpga_window == nullptr) {
        log_error("!!! dsp_lowlevel_init: out of memory!\n");
        return false;
    }
    return true;
}

}  // namespace

uint32_t dsp_geq_row(int band)
{
    if (band >= 20)
        return FPGA_REGION_1 + 0x100 * (uint32_t)(39 - band);
    return FPGA_REGION_2 + 0x100 * (uint32_t)(19 - band);
}

float dsp_geq_freq(int band, uint32_t mask_upper, uint32_t mask_lower)
{
    if (geq_freq_table[0][1] == 0.0f)
        geq_table_init();
    if (mask_upper & (1u << band))
        return geq_freq_table[band][2];
    if (mask_lower & (1u << band))
        return geq_freq_table[band][0];
    return geq_freq_table[band][1];
}

void update_device_bus_geq(int bus, int redesign, int band)
{
    dsp_bus &b = my_device->bus[bus];
    if (redesign)
        filter_geq_band(&b.geq[band], dsp_geq_freq(band, b.geq_mask[0], b.geq_mask[1]), GEQ_Q, b.geq_gain[band]);
    upload(dsp_geq_row(band), bus, source(b.geq[band], b.eq_flags & EQ_FLAG_GEQ));
}

namespace {

// One stage of a bus or an output: design it when asked, then upload the
// section, or the bypass block while the stage or the section is bypassed.
void upload_peq(uint32_t row, int ch, int32_t flags, dsp_peq *p, int redesign)
{
    if (redesign)
        filter_peq(&p->sec, p->freq, p->q, p->gain);
    upload(row, ch, source(p->sec, (flags & EQ_FLAG_PEQ) || p->bypass));
}

void upload_shelf(uint32_t row, int ch, int32_t flags, dsp_shelf *s, int which, int redesign)
{
    if (redesign)
        design_shelf(s, which);
    upload(row, ch, source(s->sec, (flags & EQ_FLAG_SHELF) || s->bypass));
}

void upload_hpf(uint32_t row, int ch, int32_t flags, dsp_hpf *h, int redesign)
{
    if (redesign)
        filter_highpass_kind(h->sec, h->kind, h->freq);
    bool off = (flags & EQ_FLAG_HIGHPASS) || h->bypass;
    upload(row, ch, source(h->sec[0], off));
    upload(row + 0x100, ch, source(h->sec[1], off));
}

}  // namespace

void update_device_bus_peq(int bus, int redesign, int band)
{
    dsp_bus &b = my_device->bus[bus];
    upload_peq(ROW_BUS_PEQ + 0x100 * (uint32_t)band, bus, b.eq_flags, &b.peq[band], redesign);
}

void update_device_bus_shelfeq(int bus, int redesign, int shelf)
{
    dsp_bus &b = my_device->bus[bus];
    upload_shelf(ROW_BUS_SHELF + 0x100 * (uint32_t)shelf, bus, b.eq_flags, &b.shelf[shelf], shelf, redesign);
}

void update_device_bus_hpf(int bus, int redesign)
{
    dsp_bus &b = my_device->bus[bus];
    upload_hpf(ROW_BUS_HPF, bus, b.eq_flags, &b.hpf, redesign);
}

void update_device_out_peq(int out, int redesign, int band)
{
    dsp_out &o = my_device->out[out];
    uint32_t row = ROW_OUT_PEQ + 0x100 * (uint32_t)band;
    log_assert(region3_word(row, out) < 2048);
    upload_peq(row, out, o.eq_flags, &o.peq[band], redesign);
}

void update_device_out_shelfeq(int out, int redesign, int shelf)
{
    dsp_out &o = my_device->out[out];
    uint32_t row = ROW_OUT_SHELF + 0x100 * (uint32_t)shelf;
    log_assert(region3_word(row, out) < 2048);
    upload_shelf(row, out, o.eq_flags, &o.shelf[shelf], shelf, redesign);
}

void update_device_out_hpf(int out, int redesign)
{
    dsp_out &o = my_device->out[out];
    upload_hpf(ROW_OUT_HPF, out, o.eq_flags, &o.hpf, redesign);
}

void update_device_out_preset(int out, const sys_way *way)
{
    for (int j = 0; j < SYS_WAY_SECTIONS; j++)
        upload(ROW_OUT_PRESET + 0x100 * (uint32_t)j, out, way->sections[j].coef_block);
}

void dsp_dyn_times(uint32_t block, float rate, const dsp_dyn *d)
{
    put_float(block + 4 * 2, time_coefficient(d->rms, rate));
    put_float(block + 4 * 3, time_coefficient(d->attack, rate));
    put_float(block + 4 * 4, time_coefficient(d->release, rate));
    // A peak release this short would not hold; the RMS window sets it instead.
    float peak = d->peak_release < 0.2f ? d->attack + d->rms : d->peak_release;
    put_float(block + 4 * 15, time_coefficient(peak, rate));
}

void dsp_dyn_thresholds(uint32_t block, float, const dsp_dyn *d)
{
    float tc = clampf(d->thres - 3.0f, -256.0f, 64.0f);
    float h = d->ratio == DSP_RATIO_INFINITE ? 0.0f : d->knee / 2.0f;
    float slope = 1.0f - 1.0f / d->ratio;
    put_float(block + 4 * 0, tc);
    put_float(block + 4 * 1, fast_pow10((tc - h) / 10.0f));
    put_float(block + 4 * 6, slope);
    put_float(block + 4 * 7, tc - h);
    put_float(block + 4 * 8, tc + h);
    put_float(block + 4 * 9, 1.0f / h);
    put_float(block + 4 * 10, slope * h * -0.25f);
    float tp = clampf(d->peak_thres - 3.0f, -256.0f, 0.0f);
    put_float(block + 4 * 11, fast_pow10(tp / 20.0f));
}

float dsp_gain_word(float gain, int polarity)
{
    if (gain == 0.0f)
        return polarity ? -1.0f : 1.0f;
    float v = fast_pow10(gain / 20.0f);
    return polarity ? -v : v;
}

void dsp_dyn_gain(uint32_t block, float, const dsp_dyn *d)
{
    put_float(block + 4 * 14, dsp_gain_word(d->gain, d->polarity));
}

void dsp_dyn_all(uint32_t block, float rate, const dsp_dyn *d)
{
    dsp_dyn_times(block, rate, d);
    dsp_dyn_thresholds(block, rate, d);
    dsp_dyn_gain(block, rate, d);
}

int dsp_out_delay_samples(int out)
{
    const dsp_out &o = my_device->out[out];
    float d = my_device->delay_unit == DELAY_UNIT_MS ? o.delay_ms : o.delay_m * dsp_ms_per_metre;
    int samples = round_nearest((d + o.way_delay) * 96.0f);
    if (samples > FPGA_MAX_DELAY_SAMPLES)
        samples = FPGA_MAX_DELAY_SAMPLES;
    return samples < 0 ? 0 : samples;
}

void dsp_write_out_delays()
{
    uint8_t delays[2 * SYS_OUTPUTS];
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        uint16_t v = (uint16_t)dsp_out_delay_samples(o);
        delays[2 * o] = (uint8_t)v;
        delays[2 * o + 1] = (uint8_t)(v >> 8);
    }
    put_bytes(FPGA_OUT_DELAY, delays, sizeof delays);
}

void dsp_write_source_bus(int out, int bus)
{
    source_bus[out] = (uint8_t)bus;
    uint32_t word = (uint32_t)out & ~3u;
    put_bytes(FPGA_SOURCE_BUS + word, source_bus + word, 4);
}

void dsp_write_patch(int bus, int patch)
{
    uint16_t v = (uint16_t)patch;
    memcpy(my_device->patch_msg + 2 + 2 * bus, &v, 2);
    spi_write(my_device->patch_msg, sizeof my_device->patch_msg);
}

uint16_t dsp_control_word()
{
    uint32_t dm = (uint32_t)my_device->digital_mode;
    uint16_t w = CTRL_DIGITAL_INPUTS;
    if (my_device->audio_enabled)
        w |= CTRL_AUDIO_ENABLE;
    if (my_device->service_mode)
        w |= CTRL_SERVICE_MODE;
    if (dm & 1)
        w |= 0x2000;
    if (dm & 2)
        w |= 0x1000;
    if (dm & 8)
        w |= 0x0200;
    if (dm & 4)
        w |= 0x0100;
    if (dm & 0xF0)
        w |= 0x0400;
    return w;
}

void dsp_write_control()
{
    static constexpr uint32_t mode_words[4] = {16, 50, 84, 118};
    uint32_t dm = (uint32_t)my_device->digital_mode;
    for (int bit = 4; bit < 8; bit++) {
        if (dm & (1u << bit)) {
            dsp_window_write32(FPGA_DIGITAL_MODE_WORD, mode_words[bit - 4]);
            break;
        }
    }
    uint16_t w = dsp_control_word();
    uint8_t msg[4] = {0x00, 0x01, (uint8_t)(w & 0xFF), (uint8_t)(w >> 8)};
    spi_write(msg, sizeof msg);
}

bool dsp_read_status(uint32_t *status)
{
    if (spi_fd < 0)
        return false;
    uint8_t b[4];
    // On the device a read returns the status message; in a simulation root
    // the port is a plain file whose first four bytes are the status word.
    ssize_t n = pread(spi_fd, b, 4, 0);
    if (n < 0 && errno == ESPIPE)
        n = read(spi_fd, b, 4);
    if (n != 4)
        return false;
    memcpy(status, b, 4);
    return true;
}

float dsp_window_float(uint32_t offset)
{
    return std::bit_cast<float>(dsp_window_read32(offset));
}

void dsp_window_set_float(uint32_t offset, float v)
{
    put_float(offset, v);
}

int dsp_lowlevel_init(int)
{
    if (dsp_lowlevel_prepare() != 0)
        return -1;
    system_saver_start();
    start_rt_thread();
    return 0;
}

int dsp_lowlevel_prepare()
{
    dsp_ms_per_metre = 2.911886f;
    geq_table_init();
    if (!window_init())
        return -1;
    if (linkgroup_buf == nullptr)
        linkgroup_buf = (char *)calloc(1, LINKGROUP_BUF_SIZE);
    if (linkgroup_buf == nullptr) {
        log_error("dsp_lowlevel_init: linkgroup_buf==NULL\n");
        return -1;
    }
    if (my_device == nullptr)
        my_device = (dsp_device *)calloc(1, sizeof(dsp_device));
    else
        memset(my_device, 0, sizeof(dsp_device));
    if (my_device == nullptr) {
        log_error("dsp_lowlevel_init: my_device == NULL\n");
        return -1;
    }
    if (curves_init() != 0) {
        log_error("dsp_lowlevel_init: curves_init() != 0\n");
        return -1;
    }
    init_my_device();
    report_mark_all();  // the first cycles upload and report the whole state

    // Appending keeps a simulated port's status word at its start.
    if (spi_fd >= 0)
        close(spi_fd);
    spi_fd = open(platform_path("/dev/spi0").c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
    spi_write(my_device->patch_msg, sizeof my_device->patch_msg);

    static constexpr float empty_slot[8] = {0.0f, -1.0f, 0.0f, -1.0f, 0.0f, -1.0f, 0.0f, 1.0f};
    for (uint32_t off = FPGA_REGION_1; off < FPGA_REGION_3 + 0x2000; off += FPGA_SLOT_BYTES)
        for (uint32_t i = 0; i < 8; i++)
            put_float(off + 4 * i, empty_slot[i]);

    dsp_dyn def = start_dyn();
    def.thres = 3.0f;
    def.knee = 10.0f;
    for (int i = 0; i < SYS_BUSES; i++)
        dsp_dyn_all(dsp_dyn_bus(i), 96000.0f, &def);
    for (int i = 0; i < SYS_OUTPUTS; i++)
        dsp_dyn_all(dsp_dyn_out(i), 96000.0f, &def);

    for (uint32_t i = 0; i < 16; i += 4)
        dsp_window_write32(FPGA_OUT_DELAY + i, 0);
    for (int o = 0; o < SYS_OUTPUTS; o++)
        dsp_write_source_bus(o, o);
    dsp_window_write32(FPGA_DIGITAL_MODE_WORD, 16);

    if (rt_info == nullptr)
        rt_info = (rt_info_t *)calloc(1, sizeof(rt_info_t));
    if (rt_info == nullptr) {
        log_error("dsp_lowlevel_init: rt_info==NULL\n");
        return -1;
    }
    if (rt_info->command_stream == nullptr)
        rt_info->command_stream = (char *)calloc(1, COMMAND_STREAM_BUF_SIZE);
    if (rt_info->command_stream == nullptr) {
        log_error("dsp_lowlevel_init: rt_info->command_stream==NULL\n");
        return -1;
    }
    if (rt_info->levels_stream == nullptr)
        rt_info->levels_stream = (char *)calloc(1, LEVELS_STREAM_BUF_SIZE);
    if (rt_info->levels_stream == nullptr) {
        log_error("dsp_lowlevel_init: rt_info->levels_stream==NULL\n");
        return -1;
    }
    rt_info->command_stream[0] = 0;
    rt_info->command_stream_size = 0;
    rt_info->levels_stream[0] = 0;
    rt_info->levels_stream_size = 0;
    return 0;
}
