// The update passes: compare the wanted state with what the FPGA holds,
// upload what differs, and write one report line per changed value.
#pragma once
#include <cstddef>

// Runs the pending work in its fixed order, appending report lines to the
// stream (cap bytes). Returns non-zero when parameters went to the DSP.
int dsp_update_pending(char *stream, size_t cap, size_t *len);
