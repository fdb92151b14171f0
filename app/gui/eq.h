// The EQ editor: the screen on which the equalisers of one input bus (the
// graphic EQ, parametric bands, shelves and high-pass) or of one output
// group (parametric bands, shelves and high-pass) are edited beside the
// curve display. It keeps every channel's settings from the server's
// reports and sends one command line per change.
#pragma once
#include <cstdint>

#include "network.h"
#include "sgui/sgui.h"

enum eq_mode { EQ_GRAPHIC = 0, EQ_PEQ = 1, EQ_HPF = 2, EQ_SHELF = 3, EQ_MODES = 4 };

// What send_eq_set sends.
enum eq_set_kind { EQ_SET_GEQ, EQ_SET_PEQ, EQ_SET_HPF, EQ_SET_SHELF, EQ_SET_FLAGS, EQ_SET_FLAT };

// Bypass bits of a channel's EQ flags word.
enum { EQ_BYPASS_GEQ = 4, EQ_BYPASS_PEQ = 32, EQ_BYPASS_SHELF = 256, EQ_BYPASS_HPF = 2048 };

constexpr int EQ_CHANNELS = 8;
constexpr int EQ_GEQ_BANDS = 31;
constexpr int EQ_BUS_PEQ_BANDS = 5;
constexpr int EQ_OUT_PEQ_BANDS = 4;
constexpr int EQ_CURVE_POINTS = 128;
constexpr int EQ_CMD_BUF_SIZE = 1024;

struct eq_peq_band {
    float freq, q, gain;
    int bypass;  // 0 active, 1 bypassed
};

struct eq_shelf {
    float gain, freq;
    int bypass;
};

struct eq_hpf {
    float freq;
    int type;  // 0 off, 1 BW24, 2 LR24, 3 BW12, 4 LR12
    int bypass;
};

struct eq_channel {
    float curve[EQ_CURVE_POINTS];  // dB, from reports 13 and 48
    int curve_count;
    float geq[EQ_GEQ_BANDS];  // bus editor only
    eq_peq_band peq[EQ_BUS_PEQ_BANDS];
    eq_hpf hpf;
    eq_shelf shelf[2];  // low, high
    int flags;          // EQ_BYPASS_* bits
    uint32_t geq_mask[2];
};

// The controls of the page shown (those the page has; the rest nullptr).
struct eq_controls {
    sgui_widget *gain, *freq, *q, *type, *enabled, *bypass, *flat;
};

struct eq_editor {
    int is_bus;
    int bus;    // the input bus, or the output selected (output editor)
    int group;  // output group of that output (output editor)
    int outputs[4];
    int mode;              // page shown, -1 before the first
    int band[EQ_MODES];    // selected band or shelf of each page
    eq_controls controls;
    int curve_changed;     // curves of the shown channel that arrived
    char cmd_buf[EQ_CMD_BUF_SIZE];
    eq_channel channels[EQ_CHANNELS];  // by bus, or by output group
    int peq_bands;
    // The screen.
    sgui_widget *root, *title, *header, *tabbar, *area, *eqw;
    sgui_widget *tabs[EQ_MODES];  // by mode (nullptr: the page does not exist)
};

// Builds the editor's screen (a root of its own when parent is none) for
// the channel and registers its listeners; returns the screen's root.
sgui_widget *eq_init(sgui_widget *parent, int channel, int is_bus);
// The editor of a screen built by eq_init.
eq_editor *eq_of(sgui_widget *root);
// Shows the channel (a bus, or an output whose group is shown).
void eq_set_ch(sgui_widget *root, int channel);
// Shows the channel and opens the editor over the current screen, its
// first control focused. 0 when the screen could not be opened now.
int eq_open(sgui_widget *root, int channel);
// Shows a page: rebuilds the controls area.
void set_mode(eq_editor *e, int mode);
// Formats one command for the shown channel and queues it for the server.
void send_eq_set(eq_editor *e, int kind, int band);
// Report 13 / 48: the curve of a channel (user value: the editor).
void listener_curve(const command_arg *a, intptr_t user);
// Builds the command line of a change into e->cmd_buf; its length.
int eq_format(eq_editor *e, int kind, int band);
