// Software model of the FPGA: runs audio at 96 kHz through exactly what the
// server has written into the FPGA window and the control port, and raises
// the level blocks the server's meters read.
//
// Signal path, per block of frames:
//   inputs A, B, C, D, AES C left, AES C right
//   -> input patch (bit i of a bus's patch sums input i into it)
//   -> 8 buses: 40 lattice rows each (region 1 then region 2, in row order),
//      compressor and peak limiter, gain word
//   -> 8 outputs: source bus byte, 20 lattice rows (12 preset sections,
//      high-pass, shelves, parametric bands), limiter, gain word, delay.
// Audio stays silent until the control word enables it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "fpga_dynamics.h"
#include "fpga_lattice.h"
#include "fpga_spi.h"

constexpr int FPGAMODEL_RATE = 96000;
constexpr int FPGAMODEL_INPUTS = 6;  // A, B, C, D, AES C left, AES C right
constexpr int FPGAMODEL_BUSES = 8;
constexpr int FPGAMODEL_OUTPUTS = 8;
constexpr int FPGAMODEL_BLOCK = 256;  // frames between two looks at the window
constexpr int FPGAMODEL_BUS_ROWS = 40;
constexpr int FPGAMODEL_OUT_ROWS = 20;
constexpr int FPGAMODEL_ROW_BYTES = 0x100;
constexpr int FPGAMODEL_DELAY_RING = 32768;  // above the longest delay, 16384 samples

struct fpgamodel {
    uint8_t *window = nullptr;
    bool mapped = false;  // window is the root's shared mapping
    fpga_spi spi;

    // Rows as last taken from the window, and the lattices built from them.
    uint8_t bus_seen[FPGAMODEL_BUS_ROWS][FPGAMODEL_ROW_BYTES];
    uint8_t out_seen[FPGAMODEL_OUT_ROWS][FPGAMODEL_ROW_BYTES];
    bool rows_taken = false;
    fpga_lattice_row bus_rows[FPGAMODEL_BUS_ROWS];
    fpga_lattice_row out_rows[FPGAMODEL_OUT_ROWS];

    // Dynamics blocks 0-7 buses, 8-15 outputs.
    float dyn_words[16][DYN_WORDS];
    fpga_dyn_state dyn[16];
    uint8_t source[FPGAMODEL_OUTPUTS];
    int delay[FPGAMODEL_OUTPUTS];
    std::vector<float> ring;  // delay lines, FPGAMODEL_DELAY_RING per output
    uint32_t ring_pos = 0;

    // Largest squared sample of the last block at the input and the output
    // of each bus (0-7) and output (8-15).
    float peak_in[16], peak_out[16];
    fpga_frame bus[FPGAMODEL_BLOCK], out[FPGAMODEL_BLOCK];

    fpgamodel() = default;
    fpgamodel(const fpgamodel &) = delete;
    fpgamodel &operator=(const fpgamodel &) = delete;
    ~fpgamodel();
};

// Maps DIR/dev/fpgabus and follows DIR/dev/spi0. False with a one-line
// reason in *error.
bool fpgamodel_open(fpgamodel *m, const std::string &root, std::string *error);
// Runs on a window in memory instead; control messages then come through
// fpga_spi_feed(&m->spi, ...).
void fpgamodel_attach(fpgamodel *m, uint8_t *window);
// Runs frames of in_channels interleaved input channels (input i is A, B, C,
// D, AES C left, AES C right; channels beyond 6 are ignored, missing ones are
// silent) to 8 interleaved outputs. Samples are full scale at +-1, as the
// converters clip them.
void fpgamodel_process(fpgamodel *m, const float *in, int in_channels, float *out, long frames);
inline bool fpgamodel_audio_enabled(const fpgamodel *m) { return fpga_spi_audio_enabled(&m->spi); }
