#include "fpgamodel.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "dsp/dsp_lowlevel.h"

namespace {

// The server rewrites slots while the model runs: every word of the window
// is read afresh, never from a copy the compiler kept.
uint32_t load_word(const uint8_t *window, uint32_t offset)
{
    return std::atomic_ref<uint32_t>(*(uint32_t *)(window + offset)).load(std::memory_order_relaxed);
}

float load_float(const uint8_t *window, uint32_t offset)
{
    uint32_t w = load_word(window, offset);
    float f;
    memcpy(&f, &w, 4);
    return f;
}

void load_bytes(const uint8_t *window, uint32_t offset, uint8_t *to, size_t n)
{
    for (size_t i = 0; i < n; i += 4) {
        uint32_t w = load_word(window, offset + (uint32_t)i);
        memcpy(to + i, &w, 4);
    }
}

// Raises a level accumulator to v; the server clears it after each read.
void raise_level(uint8_t *window, uint32_t offset, float v)
{
    std::atomic_ref<uint32_t> word(*(uint32_t *)(window + offset));
    uint32_t old = word.load(std::memory_order_relaxed);
    for (;;) {
        float cur;
        memcpy(&cur, &old, 4);
        if (!(v > cur) && cur == cur)
            return;
        uint32_t nv;
        memcpy(&nv, &v, 4);
        if (word.compare_exchange_weak(old, nv, std::memory_order_relaxed))
            return;
    }
}

void store_float(uint8_t *window, uint32_t offset, float v)
{
    uint32_t w;
    memcpy(&w, &v, 4);
    std::atomic_ref<uint32_t>(*(uint32_t *)(window + offset)).store(w, std::memory_order_relaxed);
}

// A bus's rows: high-pass, shelves, parametric bands and graphic bands 30
// to 20 in region 1, graphic bands 19 to 0 in region 2, each in row order.
constexpr int BUS_ROWS_PER_REGION = FPGAMODEL_BUS_ROWS / 2;

uint32_t bus_row_offset(int r)
{
    return r < BUS_ROWS_PER_REGION ? FPGA_REGION_1 + FPGAMODEL_ROW_BYTES * (uint32_t)r
                                   : FPGA_REGION_2 + FPGAMODEL_ROW_BYTES * (uint32_t)(r - BUS_ROWS_PER_REGION);
}

uint32_t out_row_offset(int r)
{
    return FPGA_REGION_3 + FPGAMODEL_ROW_BYTES * (uint32_t)r;
}

// A row read twice alike: a slot caught in the middle of the server's
// 28-byte copy is taken at the next block instead.
bool read_row(const uint8_t *window, uint32_t offset, uint8_t *row)
{
    uint8_t again[FPGAMODEL_ROW_BYTES];
    for (int tries = 0; tries < 4; tries++) {
        load_bytes(window, offset, row, FPGAMODEL_ROW_BYTES);
        load_bytes(window, offset, again, FPGAMODEL_ROW_BYTES);
        if (memcmp(row, again, FPGAMODEL_ROW_BYTES) == 0)
            return true;
    }
    return false;
}

void take_rows(uint8_t (*seen)[FPGAMODEL_ROW_BYTES], fpga_lattice_row *rows, int nrows,
               uint32_t (*offset)(int), const uint8_t *window, bool all)
{
    for (int r = 0; r < nrows; r++) {
        uint8_t row[FPGAMODEL_ROW_BYTES];
        if (!read_row(window, offset(r), row))
            continue;
        for (int ch = 0; ch < FPGA_CHANNELS; ch++) {
            // The first seven words of a slot; the eighth is not a coefficient.
            const uint8_t *slot = row + FPGA_SLOT_BYTES * ch;
            if (!all && memcmp(slot, seen[r] + FPGA_SLOT_BYTES * ch, 28) == 0)
                continue;
            float coef[7];
            memcpy(coef, slot, sizeof coef);
            fpga_lattice_load(&rows[r], ch, coef);
        }
        memcpy(seen[r], row, FPGAMODEL_ROW_BYTES);
    }
}

// Everything the server may have changed since the last block.
void take_window(fpgamodel *m)
{
    take_rows(m->bus_seen, m->bus_rows, FPGAMODEL_BUS_ROWS, bus_row_offset, m->window, !m->rows_taken);
    take_rows(m->out_seen, m->out_rows, FPGAMODEL_OUT_ROWS, out_row_offset, m->window, !m->rows_taken);
    m->rows_taken = true;
    for (int i = 0; i < 16; i++) {
        uint32_t block = i < 8 ? dsp_dyn_bus(i) : dsp_dyn_out(i - 8);
        for (int w = 0; w < DYN_WORDS; w++)
            m->dyn_words[i][w] = load_float(m->window, block + 4 * (uint32_t)w);
    }
    uint8_t src[8];
    load_bytes(m->window, FPGA_SOURCE_BUS, src, 8);
    memcpy(m->source, src, 8);
    uint8_t d[16];
    load_bytes(m->window, FPGA_OUT_DELAY, d, 16);
    for (int o = 0; o < FPGAMODEL_OUTPUTS; o++) {
        int v = d[2 * o] | d[2 * o + 1] << 8;
        m->delay[o] = v > FPGA_MAX_DELAY_SAMPLES ? FPGA_MAX_DELAY_SAMPLES : v;
    }
    fpga_spi_poll(&m->spi);
}

// What a converter makes of a sample: clipped to full scale, never NaN.
float convert(float v)
{
    if (!(v == v))
        return 0.0f;
    return v > 1.0f ? 1.0f : (v < -1.0f ? -1.0f : v);
}

void track_peaks(const fpga_frame *x, int n, float *peak)
{
    for (int i = 0; i < n; i++)
        for (int ch = 0; ch < FPGA_CHANNELS; ch++) {
            float p = x[i][ch] * x[i][ch];
            if (p > peak[ch])
                peak[ch] = p;
        }
}

void process_block(fpgamodel *m, const float *in, int in_channels, float *out, int n)
{
    bool enabled = fpgamodel_audio_enabled(m);
    int used = in_channels < FPGAMODEL_INPUTS ? in_channels : FPGAMODEL_INPUTS;
    for (int i = 0; i < n; i++) {
        float a[FPGAMODEL_INPUTS] = {};
        if (enabled)
            for (int c = 0; c < used; c++)
                a[c] = convert(in[(long)i * in_channels + c]);
        for (int b = 0; b < FPGAMODEL_BUSES; b++) {
            float sum = 0.0f;
            for (int c = 0; c < FPGAMODEL_INPUTS; c++)
                if (m->spi.patch[b] & (1u << c))
                    sum += a[c];
            m->bus[i][b] = sum;
        }
    }
    for (int k = 0; k < 16; k++)
        m->peak_in[k] = m->peak_out[k] = 0.0f;

    track_peaks(m->bus, n, m->peak_in);
    fpga_lattice_run(m->bus_rows, FPGAMODEL_BUS_ROWS, m->bus, n);
    for (int b = 0; b < FPGAMODEL_BUSES; b++)
        fpga_dyn_run(m->dyn_words[b], &m->dyn[b], m->bus, b, n);
    track_peaks(m->bus, n, m->peak_out);

    for (int i = 0; i < n; i++)
        for (int o = 0; o < FPGAMODEL_OUTPUTS; o++)
            m->out[i][o] = m->source[o] < FPGAMODEL_BUSES ? m->bus[i][m->source[o]] : 0.0f;
    track_peaks(m->out, n, m->peak_in + 8);
    fpga_lattice_run(m->out_rows, FPGAMODEL_OUT_ROWS, m->out, n);
    for (int o = 0; o < FPGAMODEL_OUTPUTS; o++)
        fpga_dyn_run(m->dyn_words[8 + o], &m->dyn[8 + o], m->out, o, n);

    constexpr uint32_t mask = FPGAMODEL_DELAY_RING - 1;
    for (int i = 0; i < n; i++) {
        for (int o = 0; o < FPGAMODEL_OUTPUTS; o++) {
            float *line = m->ring.data() + (size_t)o * FPGAMODEL_DELAY_RING;
            line[m->ring_pos] = m->out[i][o];
            float v = convert(line[(m->ring_pos - (uint32_t)m->delay[o]) & mask]);
            m->out[i][o] = v;
            out[(long)i * FPGAMODEL_OUTPUTS + o] = v;
        }
        m->ring_pos = (m->ring_pos + 1) & mask;
    }
    track_peaks(m->out, n, m->peak_out + 8);

    fpga_lattice_sanitize(m->bus_rows, FPGAMODEL_BUS_ROWS);
    fpga_lattice_sanitize(m->out_rows, FPGAMODEL_OUT_ROWS);
}

// Level block: words 3 and 4 the gain factors of the compressor and of the
// peak limiter, words 5 and 6 the largest squared sample at the input and at
// the output since the server last cleared them.
void write_levels(fpgamodel *m)
{
    for (int k = 0; k < 16; k++) {
        uint32_t block = k < 8 ? FPGA_LEVEL_BUS + FPGA_LEVEL_STRIDE * (uint32_t)k
                               : FPGA_LEVEL_OUT + FPGA_LEVEL_STRIDE * (uint32_t)(k - 8);
        store_float(m->window, block + 4 * 3, m->dyn[k].comp_gain_min);
        store_float(m->window, block + 4 * 4, m->dyn[k].peak_gain_min);
        raise_level(m->window, block + 4 * 5, m->peak_in[k]);
        raise_level(m->window, block + 4 * 6, m->peak_out[k]);
    }
}

void reset_state(fpgamodel *m)
{
    memset(m->bus_rows, 0, sizeof m->bus_rows);
    memset(m->out_rows, 0, sizeof m->out_rows);
    m->rows_taken = false;
    for (auto &d : m->dyn)
        fpga_dyn_reset(&d);
    m->ring.assign((size_t)FPGAMODEL_OUTPUTS * FPGAMODEL_DELAY_RING, 0.0f);
    m->ring_pos = 0;
}

}  // namespace

fpgamodel::~fpgamodel()
{
    if (mapped)
        munmap(window, FPGA_WINDOW_SIZE);
}

bool fpgamodel_open(fpgamodel *m, const std::string &root, std::string *error)
{
    std::string bus_path = root + "/dev/fpgabus";
    std::string spi_path = root + "/dev/spi0";
    int fd = open(bus_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = bus_path + ": " + strerror(errno) + " (tools/sim-root makes a simulation root)";
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size < (off_t)FPGA_WINDOW_SIZE) {
        close(fd);
        *error = bus_path + ": shorter than the FPGA window (61440 bytes)";
        return false;
    }
    void *p = mmap(nullptr, FPGA_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) {
        *error = bus_path + ": " + strerror(errno);
        return false;
    }
    if (!fpga_spi_open(&m->spi, spi_path)) {
        *error = spi_path + ": " + strerror(errno);
        munmap(p, FPGA_WINDOW_SIZE);
        return false;
    }
    if (m->mapped)
        munmap(m->window, FPGA_WINDOW_SIZE);
    m->window = (uint8_t *)p;
    m->mapped = true;
    reset_state(m);
    return true;
}

void fpgamodel_attach(fpgamodel *m, uint8_t *window)
{
    if (m->mapped)
        munmap(m->window, FPGA_WINDOW_SIZE);
    m->window = window;
    m->mapped = false;
    reset_state(m);
}

void fpgamodel_process(fpgamodel *m, const float *in, int in_channels, float *out, long frames)
{
#if defined(__SSE__)
    // The FPGA has no subnormal numbers; a decaying filter state would
    // otherwise slow the processor down a hundredfold.
    unsigned csr = _mm_getcsr();
    _mm_setcsr(csr | 0x8040);  // flush to zero, denormals are zero
#endif
    while (frames > 0) {
        int n = frames < FPGAMODEL_BLOCK ? (int)frames : FPGAMODEL_BLOCK;
        take_window(m);
        process_block(m, in, in_channels, out, n);
        write_levels(m);
        in += (long)n * in_channels;
        out += (long)n * FPGAMODEL_OUTPUTS;
        frames -= n;
    }
#if defined(__SSE__)
    _mm_setcsr(csr);
#endif
}
