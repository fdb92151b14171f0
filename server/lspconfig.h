// Loudspeaker configuration text: the parser that turns the text of a
// library entry into one record with ready filter sections per way. Content
// never makes a parse fail; out-of-range values are corrected and reported as
// line-numbered messages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "dbase_lsp.h"
#include "system.h"

constexpr int LSPCONFIG_WAYS = 5;             // 0 full range, 1 high, 2 mid, 3 low, 4 sub
constexpr int LSPCONFIG_PRESET_SLOTS = 18;
constexpr int LSPCONFIG_MAX_CHANNELS = 4;
constexpr int LSPCONFIG_MAX_PRESETS = 1;
constexpr int LSPCONFIG_MAX_BANKS = 1;
constexpr size_t LSPCONFIG_LABEL_MAX = 203;   // bytes of the LABEL text
constexpr size_t LSPCONFIG_WARNINGS_SIZE = 4095;  // the warnings text and its terminator
constexpr size_t LSPCONFIG_TOKEN_MAX = 128;   // code points of one token
// Parser messages one parse writes to the log; the rest are only counted,
// so a hostile text cannot flood the log each time it is parsed again.
constexpr int LSPCONFIG_LOG_MAX = 64;

constexpr int LSPCONFIG_WAY_FULLRANGE = 0;
constexpr int LSPCONFIG_WAY_HIGH = 1;
constexpr int LSPCONFIG_WAY_MID = 2;
constexpr int LSPCONFIG_WAY_LOW = 3;
constexpr int LSPCONFIG_WAY_SUB = 4;

// One way of a preset. `way` is what an output of the group receives.
struct lspconfig_way {
    int32_t used;
    int32_t section_count;  // sections in use, at most SYS_WAY_SECTIONS
    sys_way way;
};

struct lspconfig_preset {
    lspconfig_way way[LSPCONFIG_WAYS];
};

// One parsed text; owned by the caller, freed with lspconfig_free.
struct cfglsp {
    int32_t version;
    int32_t channels;
    int32_t current_way;
    int32_t code;
    int32_t reverse_order;  // ways go to outputs from way 4 down to way 0
    std::unique_ptr<lspconfig_entry> entry;  // attached by lspconfig_parse_entry
    int32_t current_preset;
    char label[LSPCONFIG_LABEL_MAX + 1];
    lspconfig_preset presets[LSPCONFIG_PRESET_SLOTS];
    int32_t preset_count;  // valid presets: always 1
    int32_t default_preset;
    int32_t bank_count;
    int32_t max_channels;
    int32_t max_presets;
    int32_t max_banks;
    int32_t ways_used[LSPCONFIG_WAYS];  // shared by all presets
    size_t warnings_len;
    char warnings[LSPCONFIG_WARNINGS_SIZE];  // "%d$%s\n" per message
};

// Parses len bytes of text (up to a NUL). A missing or empty text gives one
// full-range way without sections. nullptr only when memory is exhausted.
// Every message goes into the warnings; the first LSPCONFIG_LOG_MAX are also
// logged, then one line says how many more were not.
cfglsp *lspconfig_parse(const char *text, size_t len);

// Reads library entry id (dbase_get_lsp) and parses its text with
// lspconfig_parse_entry. nullptr when the entry does not exist, there is no
// database, or memory is exhausted.
cfglsp *lspconfig_parse_from_id(int id, sys_lsp_summary *summary);

// Parses an entry's text, attaches the entry to the record and fills the
// summary (if given): id, parent, folder flag, lock and version from the
// entry, the way count from the text, the label cut to 200 characters. This
// is the step of lspconfig_parse_from_id after the entry has been read.
// nullptr when there is no entry or memory is exhausted.
cfglsp *lspconfig_parse_entry(std::unique_ptr<lspconfig_entry> entry, sys_lsp_summary *summary);

// The n-th used way of preset preset_nr, counting from way 0 upwards (from
// way 4 downwards in reverse order); nullptr when there are fewer used ways.
// A text may use all five ways while a group takes at most four outputs:
// callers take n below lspconfig_channels. preset_nr must be below
// preset_count.
const lspconfig_way *lspconfig_get_way(const cfglsp *c, int n, int preset_nr);

// Number of outputs the loudspeaker takes, 1 to LSPCONFIG_MAX_CHANNELS.
int lspconfig_channels(const cfglsp *c);

// The correction messages, or nullptr when there are none.
const char *lspconfig_warnings(const cfglsp *c);

// Frees the record and an attached entry; nullptr is allowed.
void lspconfig_free(cfglsp *c);

struct lspconfig_deleter {
    void operator()(cfglsp *c) const { lspconfig_free(c); }
};
using cfglsp_ptr = std::unique_ptr<cfglsp, lspconfig_deleter>;
