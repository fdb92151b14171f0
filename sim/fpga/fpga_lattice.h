// Second-order lattice sections as the FPGA executes them, in single
// precision: the eight channels of a coefficient row side by side, rows one
// after another.
#pragma once

constexpr int FPGA_CHANNELS = 8;

// One coefficient row: a slot per channel, unpacked from the coef_block
// order (c2, k2, c1, k1, L0, L2, L1) into one array per coefficient so that
// the channel loop runs as vector operations. s1 and s2 hold the backward
// signals of the two stages from the previous sample.
struct fpga_lattice_row {
    float c2[FPGA_CHANNELS], k2[FPGA_CHANNELS];
    float c1[FPGA_CHANNELS], k1[FPGA_CHANNELS];
    float l0[FPGA_CHANNELS], l2[FPGA_CHANNELS], l1[FPGA_CHANNELS];
    float s1[FPGA_CHANNELS], s2[FPGA_CHANNELS];
};

// Frames of eight channels, channel-interleaved.
using fpga_frame = float[FPGA_CHANNELS];

// Takes a slot's seven words; a slot holding anything but finite numbers
// passes its channel unchanged (the bypass block) instead.
void fpga_lattice_load(fpga_lattice_row *row, int channel, const float coef[7]);
// Runs n frames in place through nrows rows in order.
void fpga_lattice_run(fpga_lattice_row *rows, int nrows, fpga_frame *x, int n);
// Clears the state of every channel whose state is no longer finite (a slot
// seen half written, say); true when nothing had to be cleared.
bool fpga_lattice_sanitize(fpga_lattice_row *rows, int nrows);
