// The test signal the live model plays when no file is given: a steady tone
// on each input, each at its own level, and one tone whose level steps every
// second so that meters visibly move.
#pragma once
#include <cstdint>

// Fills n frames of the six inputs (A, B, C, D, AES C left, AES C right),
// starting at frame `at` of the signal.
void fpga_signal_test(float *frames, int n, uint64_t at);
// One line saying what fpga_signal_test plays.
const char *fpga_signal_test_description();
