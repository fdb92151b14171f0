// The update passes: compare the wanted state with what the FPGA holds,
// upload what differs, and write one report line per changed value.
#pragma once
#include <cstddef>

// Runs the pending work in its fixed order, appending report lines to the
// stream (cap bytes). Returns non-zero when parameters went to the DSP.
int dsp_update_pending(char *stream, size_t cap, size_t *len);

// The output limiter of output o from its amplifier and its preset way.
void dsp_output_limiter(int o);

// Delays as the DSP applies them, in ms.
float dsp_bus_delay_applied(int b);
float dsp_out_delay_applied(int o);
