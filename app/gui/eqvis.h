// The EQ curve display beside the EQ editor's controls: a logarithmic
// frequency axis from 17.5 Hz to about 24 kHz with its grid, the channel's
// magnitude curve as the server reports it (128 values in dB, 40 dB over
// the height) and the numbered handles of the bands of one page, one of
// them selected. The panel computes no filter response: it only draws the
// server's curve.
#pragma once
#include "sgui/sgui.h"

enum eqvis_mode { EQVIS_GRAPHIC = 0, EQVIS_PEQ = 1, EQVIS_HPF = 2, EQVIS_SHELF = 3, EQVIS_MODES = 4 };

constexpr int EQVIS_CURVE_POINTS = 128;
constexpr int EQVIS_GEQ_BANDS = 31;
constexpr int EQVIS_FREQ_UNITS = 32768;  // horizontal units of the frequency axis
constexpr float EQVIS_DB_SPAN = 40.0f;   // +20 dB at the top, -20 dB at the bottom

// A box of the full screen width and height pixels high. Pages: graphic
// (31 handles, only with has_geq), PEQ (peq_count handles), HPF (1), shelf
// (2). Takes keys 4 and 8 (selection down and up); a change of the
// selection calls event_val (widget, new selection, none).
sgui_widget *eqvis(sgui_widget *par, int flags, int height, int has_geq, int peq_count);

// Handles: store the position and redraw the page.
void eqvis_set_geq(sgui_widget *w, int band, float gain);
void eqvis_set_peq(sgui_widget *w, int band, float freq, float gain, float q);
void eqvis_set_shelf(sgui_widget *w, int index, float freq, float gain);
void eqvis_set_hpf(sgui_widget *w, float freq);
// A bypassed band's handle is drawn as an outline.
void eqvis_set_enabled(sgui_widget *w, int mode, int id, int enabled);
// Selects handle id of a page (an id beyond the page's handles is an
// assertion failure).
void eqvis_set_selection(sgui_widget *w, int mode, int id);
int eqvis_selection(sgui_widget *w, int mode);
void eqvis_set_mode(sgui_widget *w, int mode);
int eqvis_get_mode(sgui_widget *w);
int eqvis_handle_count(sgui_widget *w, int mode);
// Copies the curve (count values, at most 128; missing ones are 0 dB).
void eqvis_set_curve(sgui_widget *w, const float *values, int count);
// How many curves have been set since the display was made.
int eqvis_curve_count(sgui_widget *w);

// The frequency of a horizontal unit (0..32767): 17.5 Hz times
// 1.0002208 per unit, in single precision as the device computes it.
float eqvis_freq(int unit);
// The pixel column of a frequency: the first unit at or above it, scaled
// to the 320 columns and rounded.
int eqvis_freq_column(float freq);
// The pixel column of graphic band 0..30 (evenly spaced).
int eqvis_geq_column(int band);
// The curve's value at a pixel column, interpolated (Catmull-Rom) between
// the two points around it.
float eqvis_curve_at(const float *curve, int column);
// The pixel row of a level in a display of the given height, kept on it.
int eqvis_db_row(float db, int height);
