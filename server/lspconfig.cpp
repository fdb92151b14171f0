#include "lspconfig.h"

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "common/utf8.h"
#include "dsp/filter.h"
#include "log.h"

namespace {

// A token of 128 code points of at most three bytes each.
constexpr size_t TOKEN_BYTES = LSPCONFIG_TOKEN_MAX * 3;

// Limits of one corrected value and the messages that report them.
struct range {
    double lo, hi;
    const char *below, *above;
};

constexpr range FREQ = {17.5, 24250.0, "corrected frequency to minimum (=%1.2f Hz)",
                        "corrected frequency to maximum (=%1.2f Hz)"};
constexpr range WAY_GAIN = {-150.0, 20.0, "corrected gain to minimum (=%1.2f dB)",
                            "corrected gain to maximum (=%1.2f dB)"};
constexpr range FILTER_GAIN = {-20.0, 20.0, WAY_GAIN.below, WAY_GAIN.above};
constexpr range DELAY = {0.0, 14.0, "corrected delay to minimum (=0 ms)",
                         "corrected delay to maximum (=%1.2f ms)"};
constexpr range RMS_TIME = {15.0, 10000.0, "corrected rms time to minimum (=%1.2f ms)",
                            "corrected rms time to maximum (=%1.2f ms)"};
constexpr range RELEASE_TIME = {1.0, 10000.0, "corrected release time to minimum (=%1.2f ms)",
                                "corrected release time to maximum (=%1.2f ms)"};
constexpr range ATTACK_TIME = {0.0, 500.0, "corrected attack time to minimum (=%1.2f ms)",
                               "corrected attack time to maximum (=%1.2f ms)"};
constexpr range PEAK_TIME = {0.0, 500.0, "corrected peak release time to minimum (=%1.2f ms)",
                             "corrected peak release time to maximum (=%1.2f ms)"};
constexpr range FILTER_Q = {0.3, 20.0, "corrected q to minimum (=%1.2f)",
                            "corrected q to maximum (=%1.2f)"};
constexpr range SHELF_Q = {0.3, 0.7071, FILTER_Q.below, FILTER_Q.above};
constexpr range PEQ_BW = {0.07, 3.7, "corrected bandwidth to minimum (=%1.2f)",
                          "corrected bandwidth to maximum (=%1.2f)"};
constexpr range SHELF_BW = {1.9, 3.7, PEQ_BW.below, PEQ_BW.above};
constexpr range SHELF_SLOPE = {2.0, 48.0, "corrected slope to minimum (=%1.2f)",
                               "corrected slope to maximum (=%1.2f)"};

// Default limiter times of every way, in ms.
constexpr float WAY_RMS_TIME = 35.0f;
constexpr float WAY_ATTACK = 10.0f;
constexpr float WAY_RELEASE = 60.0f;
constexpr float WAY_PEAK_RELEASE = 0.0f;

// Filter kinds of the selectable designs (filter_alpha).
constexpr int KIND_Q = 1;
constexpr int KIND_BANDWIDTH = 2;
constexpr int KIND_SLOPE = 4;
constexpr double SHELF_DEFAULT_SLOPE = 12.0;

enum pass_family { FAMILY_NONE, FAMILY_BUTTERWORTH, FAMILY_LINKWITZ_RILEY, FAMILY_BESSEL };

// One section of a high-/low-pass cascade: the frequency factor k (times f
// for a high-pass, divided for a low-pass) and the Q, 0 for first order.
struct pass_stage {
    double k, q;
};

struct pass_cascade {
    pass_family family;
    int slope;    // dB/oct
    int reserve;  // sections the room check asks for
    int count;
    pass_stage stage[4];
};

constexpr double FIRST = 0.0;  // a first-order section

constexpr pass_cascade PASS_CASCADES[] = {
    {FAMILY_BUTTERWORTH, 6, 1, 1, {{1, FIRST}}},
    {FAMILY_BUTTERWORTH, 12, 1, 1, {{1, 0.707}}},
    {FAMILY_BUTTERWORTH, 18, 2, 2, {{1, FIRST}, {1, 1.0}}},
    {FAMILY_BUTTERWORTH, 24, 2, 2, {{1, 0.541}, {1, 1.307}}},
    {FAMILY_BUTTERWORTH, 30, 3, 3, {{1, FIRST}, {1, 0.618}, {1, 1.618}}},
    {FAMILY_BUTTERWORTH, 36, 3, 3, {{1, 0.518}, {1, 0.707}, {1, 1.932}}},
    {FAMILY_BUTTERWORTH, 42, 4, 4, {{1, FIRST}, {1, 0.555}, {1, 0.802}, {1, 2.247}}},
    {FAMILY_BUTTERWORTH, 48, 4, 4, {{1, 0.51}, {1, 0.601}, {1, 0.9}, {1, 2.563}}},
    // Linkwitz-Riley 12 and 36 reserve one section more than they use.
    {FAMILY_LINKWITZ_RILEY, 12, 2, 1, {{1, 0.5}}},
    {FAMILY_LINKWITZ_RILEY, 24, 2, 2, {{1, 0.707}, {1, 0.707}}},
    {FAMILY_LINKWITZ_RILEY, 36, 4, 3, {{1, 0.5}, {1, 1.0}, {1, 1.0}}},
    {FAMILY_LINKWITZ_RILEY, 48, 4, 4, {{1, 0.541}, {1, 1.307}, {1, 0.541}, {1, 1.307}}},
    {FAMILY_BESSEL, 6, 1, 1, {{1, FIRST}}},
    {FAMILY_BESSEL, 12, 1, 1, {{0.786129, 0.577}}},
    {FAMILY_BESSEL, 18, 2, 2, {{0.755857, FIRST}, {0.690796, 0.691}}},
    {FAMILY_BESSEL, 24, 2, 2, {{0.699213, 0.522}, {0.623698, 0.806}}},
    {FAMILY_BESSEL, 30, 3, 3, {{0.665778, FIRST}, {0.642495, 0.563}, {0.569649, 0.916}}},
    {FAMILY_BESSEL, 36, 3, 3, {{0.623458, 0.51}, {0.59203, 0.611}, {0.524976, 1.023}}},
    {FAMILY_BESSEL, 42, 4, 4,
     {{0.593824, FIRST}, {0.582666, 0.532}, {0.548725, 0.661}, {0.487954, 1.126}}},
    {FAMILY_BESSEL, 48, 4, 4,
     {{0.562316, 0.506}, {0.545802, 0.56}, {0.511957, 0.711}, {0.456836, 1.225}}},
};

// The values one line collects; a keyword resets them.
struct line_values {
    double freq;  // Hz
    double gain;  // dB
    double q;
    double peak_voltage;  // read, not used by any command
    double rms_voltage;   // read, not used by any command
    double time;          // ms
    double impedance;     // ohms
    double power1, power2;  // W
    double bandwidth;     // octaves
    pass_family family;
    int slope;  // dB/oct of the family
    int value;  // integer value: slope, version, code, on/off
    size_t quoted_len;
    char quoted[TOKEN_BYTES + 1];  // the last quoted token
};

struct parse_ctx {
    cfglsp *c;
    int line;
    int logged, unlogged;  // messages written to the log, and those left out
    int command;  // keyword of the line, KW_COMMENT while it has none
    bool line_has_tokens;
    bool comment;
    bool in_token, quoted;
    size_t token_len, token_cps;
    char token[TOKEN_BYTES + 1];
    line_values v;
};

void warn(parse_ctx &x, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// Formats a message, logs it (the first LSPCONFIG_LOG_MAX of a parse) and
// appends "%d$%s\n" to the warnings unless the text and its terminator would
// no longer fit.
void warn(parse_ctx &x, const char *fmt, ...)
{
    char msg[256];
    int n = snprintf(msg, sizeof msg, "line %d: ", x.line);
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg + n, sizeof msg - (size_t)n, fmt, ap);
    va_end(ap);
    if (x.logged < LSPCONFIG_LOG_MAX) {
        x.logged++;
        log_error("%s\n", msg);
    } else {
        x.unlogged++;
    }

    char entry[sizeof msg + 16];
    int m = snprintf(entry, sizeof entry, "%d$%s\n", x.line, msg);
    cfglsp *c = x.c;
    if (m > 0 && c->warnings_len + (size_t)m + 1 <= LSPCONFIG_WARNINGS_SIZE) {
        memcpy(c->warnings + c->warnings_len, entry, (size_t)m + 1);
        c->warnings_len += (size_t)m;
    }
}

// The message argument is the limit; a format without a conversion ignores it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
double limit(parse_ctx &x, double value, const range &r)
{
    if (value < r.lo) {
        warn(x, r.below, r.lo);
        return r.lo;
    }
    if (value > r.hi) {
        warn(x, r.above, r.hi);
        return r.hi;
    }
    return value;
}
#pragma GCC diagnostic pop

lspconfig_way &current_way(parse_ctx &x)
{
    return x.c->presets[x.c->current_preset].way[x.c->current_way];
}

// Copies at most max bytes of text, cut at a character boundary, terminated.
void copy_text(char *dst, size_t max, std::string_view text)
{
    size_t n = text.size() < max ? text.size() : max;
    if (n < text.size())
        while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80)
            n--;
    memcpy(dst, text.data(), n);
    dst[n] = 0;
}

// Numbers: the C library's conversion of the part before the unit. A
// malformed or non-finite number reads as 0, so no NaN reaches a design.
double number(std::string_view digits)
{
    char buf[TOKEN_BYTES + 1];
    copy_text(buf, TOKEN_BYTES, digits);
    double d = strtod(buf, nullptr);
    return std::isfinite(d) ? d : 0.0;
}

int integer(std::string_view digits)
{
    char buf[TOKEN_BYTES + 1];
    copy_text(buf, TOKEN_BYTES, digits);
    long l = strtol(buf, nullptr, 10);
    return l < INT_MIN ? INT_MIN : l > INT_MAX ? INT_MAX : (int)l;
}

// ---- filter commands ----

// Every filter command first makes sure its sections fit into the way.
bool room(parse_ctx &x, int needed)
{
    if (current_way(x).section_count + needed > SYS_WAY_SECTIONS) {
        warn(x, "no more filters left");
        return false;
    }
    return true;
}

template <class Design> void append_section(parse_ctx &x, Design design)
{
    lspconfig_way &w = current_way(x);
    filter_section s{};  // no response flag: presets keep no response terms
    design(&s);
    filter_store(&s, &w.way.sections[w.section_count++]);
}

void run_peq(parse_ctx &x, bool symmetric)
{
    if (!room(x, 1))
        return;
    const line_values &v = x.v;
    double f = limit(x, v.freq, FREQ);
    double gain = limit(x, v.gain, FILTER_GAIN);
    double q = v.q != 0.0 ? limit(x, v.q, FILTER_Q) : 0.0;
    double bw = v.bandwidth != 0.0 ? limit(x, v.bandwidth, PEQ_BW) : 0.0;
    if (q == 0.0 && bw == 0.0) {
        warn(x, "no bandwidth given, filter ignored");
        return;
    }
    if (q != 0.0 && bw != 0.0)
        warn(x, "too much parameters, selected q");
    int kind = q != 0.0 ? KIND_Q : KIND_BANDWIDTH;
    double value = q != 0.0 ? q : bw;
    append_section(x, [&](filter_section *s) {
        if (symmetric)
            filter_peq_symmetric(s, f, value, gain, kind);
        else
            filter_peq_alpha(s, f, value, gain, kind);
    });
}

void run_shelf(parse_ctx &x, bool high)
{
    if (!room(x, 1))
        return;
    const line_values &v = x.v;
    double f = limit(x, v.freq, FREQ);
    double gain = limit(x, v.gain, FILTER_GAIN);
    double q = v.q != 0.0 ? limit(x, v.q, SHELF_Q) : 0.0;
    double bw = v.bandwidth != 0.0 ? limit(x, v.bandwidth, SHELF_BW) : 0.0;
    double slope = v.value != 0 ? limit(x, v.value, SHELF_SLOPE) : 0.0;
    int given = (q != 0.0) + (bw != 0.0) + (slope != 0.0);
    int kind = KIND_SLOPE;
    double value = SHELF_DEFAULT_SLOPE;
    if (given == 0) {
        warn(x, "corrected slope to 12dB/oct");
    } else if (given > 1) {
        warn(x, "too much parameters, corrected slope to 12dB/oct");
    } else if (q != 0.0) {
        kind = KIND_Q;
        value = q;
    } else if (bw != 0.0) {
        kind = KIND_BANDWIDTH;
        value = bw;
    } else {
        value = slope;
    }
    append_section(x, [&](filter_section *s) {
        if (high)
            filter_high_shelf(s, f, value, gain, kind);
        else
            filter_low_shelf(s, f, value, gain, kind);
    });
}

const pass_cascade *find_cascade(pass_family family, int slope)
{
    for (const pass_cascade &p : PASS_CASCADES)
        if (p.family == family && p.slope == slope)
            return &p;
    return nullptr;
}

void pass_section(filter_section *s, bool high, double f, double q)
{
    if (q > 0.0)
        (high ? filter_highpass2 : filter_lowpass2)(s, f, q);
    else
        (high ? filter_highpass1 : filter_lowpass1)(s, f);
}

void run_pass(parse_ctx &x, bool high)
{
    const line_values &v = x.v;
    const pass_cascade *cascade = nullptr;
    int needed = 1;
    if (v.q == 0.0 && v.family != FAMILY_NONE) {
        cascade = find_cascade(v.family, v.slope);
        needed = cascade ? cascade->reserve : 0;
    }
    if (!room(x, needed))
        return;
    double f = limit(x, v.freq, FREQ);
    if (v.q != 0.0) {
        double q = limit(x, v.q, FILTER_Q);
        append_section(x, [&](filter_section *s) { pass_section(s, high, f, q); });
        return;
    }
    if (v.family == FAMILY_NONE) {
        append_section(x, [&](filter_section *s) { pass_section(s, high, f, FIRST); });
        return;
    }
    if (!cascade) {
        warn(x, "unknown slope for HPF/LPF");
        return;
    }
    for (int i = 0; i < cascade->count; i++) {
        const pass_stage &st = cascade->stage[i];
        double fs = high ? f * st.k : f / st.k;
        append_section(x, [&](filter_section *s) { pass_section(s, high, fs, st.q); });
    }
}

void run_allpass(parse_ctx &x)
{
    if (!room(x, 1))
        return;
    double f = limit(x, x.v.freq, FREQ);
    if (x.v.q != 0.0) {
        double q = limit(x, x.v.q, FILTER_Q);
        append_section(x, [&](filter_section *s) { filter_allpass2(s, f, q); });
    } else {
        append_section(x, [&](filter_section *s) { filter_allpass1(s, f); });
    }
}

// ---- way and record commands ----

void select_way(parse_ctx &x, int way)
{
    cfglsp *c = x.c;
    c->current_way = way;
    c->presets[c->current_preset].way[way].used = 1;
    c->ways_used[way] = 1;
}

// Voltage limits from the power rating: U = sqrt(P * R).
void run_power(parse_ctx &x)
{
    double p1 = x.v.power1 > 0.0 ? x.v.power1 : 0.0;
    double p2 = x.v.power2 > 0.0 ? x.v.power2 : 0.0;
    // A negative impedance would make the limits NaN: it counts as missing.
    double r = x.v.impedance > 0.0 ? x.v.impedance : 0.0;
    if (p2 != 0.0 && p1 > p2) {
        double t = p1;
        p1 = p2;
        p2 = t;
    }
    if (r == 0.0) {
        warn(x, "speaker impedance missing");
        return;
    }
    if (p1 == 0.0)
        return;
    sys_way &w = current_way(x).way;
    w.rms_limit = (float)sqrt(p1 * r);
    if (p2 != 0.0)
        w.peak_limit = (float)sqrt(p2 * r);
}

void run_time(parse_ctx &x, float sys_way::*field, const range &r)
{
    current_way(x).way.*field = (float)limit(x, x.v.time, r);
}

// Keywords; the index is the command number.
enum keyword {
    KW_COMMENT,  // "#" starts a comment and never reaches the table as a token
    KW_PEQ, KW_PEQ2, KW_LPF, KW_HPF, KW_HSHELF, KW_LSHELF, KW_APF, KW_LABEL, KW_CODE,
    KW_VERSION, KW_INPUT, KW_SUB, KW_FULLRANGE, KW_LOW, KW_MID, KW_HIGH, KW_GAIN, KW_PHASE,
    KW_POLARITY, KW_DELAY, KW_POWER, KW_REVERSE_ORDER, KW_ATTACKTIME, KW_RMSTIME,
    KW_RELEASETIME, KW_PEAKTIME, KW_PRESET, KW_BANK, KW_DEFAULT, KW_SAFEMODE, KW_MUTE,
    KW_COUNT
};

constexpr std::string_view KEYWORDS[KW_COUNT] = {
    "#", "PEQ", "PEQ2", "LPF", "HPF", "HSHELF", "LSHELF", "APF", "LABEL", "CODE", "VERSION",
    "INPUT", "SUB", "FULLRANGE", "LOW", "MID", "HIGH", "GAIN", "PHASE", "POLARITY", "DELAY",
    "POWER", "REVERSE_ORDER", "ATTACKTIME", "RMSTIME", "RELEASETIME", "PEAKTIME", "PRESET",
    "BANK", "DEFAULT", "SAFEMODE", "MUTE",
};
static_assert(KEYWORDS[KW_MUTE] == "MUTE");

// KW_COMMENT when the token is no keyword.
keyword find_keyword(std::string_view t)
{
    for (int k = KW_PEQ; k < KW_COUNT; k++)
        if (KEYWORDS[k] == t)
            return (keyword)k;
    return KW_COMMENT;
}

void run_command(parse_ctx &x)
{
    cfglsp *c = x.c;
    const line_values &v = x.v;
    switch (x.command) {
    case KW_PEQ: run_peq(x, false); break;
    case KW_PEQ2: run_peq(x, true); break;
    case KW_LPF: run_pass(x, false); break;
    case KW_HPF: run_pass(x, true); break;
    case KW_HSHELF: run_shelf(x, true); break;
    case KW_LSHELF: run_shelf(x, false); break;
    case KW_APF: run_allpass(x); break;
    case KW_LABEL: copy_text(c->label, LSPCONFIG_LABEL_MAX, {v.quoted, v.quoted_len}); break;
    case KW_CODE: c->code = v.value; break;
    case KW_VERSION: c->version = v.value; break;
    case KW_INPUT:
    case KW_FULLRANGE: select_way(x, LSPCONFIG_WAY_FULLRANGE); break;
    case KW_SUB: select_way(x, LSPCONFIG_WAY_SUB); break;
    case KW_LOW: select_way(x, LSPCONFIG_WAY_LOW); break;
    case KW_MID: select_way(x, LSPCONFIG_WAY_MID); break;
    case KW_HIGH: select_way(x, LSPCONFIG_WAY_HIGH); break;
    case KW_GAIN: current_way(x).way.gain = (float)limit(x, v.gain, WAY_GAIN); break;
    case KW_PHASE:
    case KW_POLARITY: current_way(x).way.polarity = v.value != 0; break;
    case KW_DELAY: run_time(x, &sys_way::delay, DELAY); break;
    case KW_POWER: run_power(x); break;
    case KW_REVERSE_ORDER: c->reverse_order = 1; break;
    case KW_ATTACKTIME: run_time(x, &sys_way::attack, ATTACK_TIME); break;
    case KW_RMSTIME: run_time(x, &sys_way::rms_time, RMS_TIME); break;
    case KW_RELEASETIME: run_time(x, &sys_way::release, RELEASE_TIME); break;
    case KW_PEAKTIME: run_time(x, &sys_way::peak_release, PEAK_TIME); break;
    case KW_PRESET:  // a text describes exactly one preset
    case KW_SAFEMODE: warn(x, "maximum preset count exceeded (=%d)", c->max_presets); break;
    case KW_BANK:
        if (c->bank_count < c->max_banks)
            c->bank_count++;
        else
            warn(x, "maximum bank count exceeded (=%d)", c->max_banks);
        break;
    case KW_DEFAULT: c->default_preset = c->current_preset; break;
    case KW_MUTE: current_way(x).way.gain = (float)WAY_GAIN.lo; break;
    default: break;
    }
}

// ---- tokens and lines ----

bool ends_with(std::string_view t, std::string_view s)
{
    return t.size() >= s.size() && t.substr(t.size() - s.size()) == s;
}

std::string_view before(std::string_view t, std::string_view unit)
{
    return t.substr(0, t.size() - unit.size());
}

// A parameter token (upper case): its unit says which value it sets.
void parameter(parse_ctx &x, char *token, size_t len)
{
    for (size_t i = 0; i < len; i++)
        if (token[i] == ',')
            token[i] = '.';  // decimal comma
    std::string_view t(token, len);
    line_values &v = x.v;
    if (ends_with(t, "KHZ"))
        v.freq = number(before(t, "KHZ")) * 1000.0;
    else if (ends_with(t, "HZ"))
        v.freq = number(before(t, "HZ"));
    else if (ends_with(t, "DB"))
        v.gain = number(before(t, "DB"));
    else if (t.size() >= 2 && t[0] == 'Q')
        v.q = number(t.substr(1));
    else if (ends_with(t, "VP"))
        v.peak_voltage = number(before(t, "VP"));
    else if (ends_with(t, "VRMS"))
        v.rms_voltage = number(before(t, "VRMS"));
    else if (ends_with(t, "MS"))
        v.time = number(before(t, "MS"));
    else if (t.starts_with("BS") || t.starts_with("LR") || t.starts_with("BW")) {
        v.family = t[1] == 'S' ? FAMILY_BESSEL : t[1] == 'R' ? FAMILY_LINKWITZ_RILEY
                                                             : FAMILY_BUTTERWORTH;
        v.slope = integer(t.substr(2));
    } else if (t == "REV" || t == "NEG")
        v.value = 1;
    else if (t.starts_with("NOR"))
        v.value = 0;
    else if (ends_with(t, "R"))
        v.impedance = number(before(t, "R"));
    else if (ends_with(t, "W")) {
        double p = number(before(t, "W"));
        (v.power1 == 0.0 ? v.power1 : v.power2) = p;
    } else if (ends_with(t, "OCT"))
        v.bandwidth = number(before(t, "OCT"));
    else
        v.value = integer(t);
}

void end_token(parse_ctx &x)
{
    if (!x.in_token)
        return;
    x.line_has_tokens = true;
    if (x.quoted) {
        memcpy(x.v.quoted, x.token, x.token_len);
        x.v.quoted_len = x.token_len;
    } else {
        keyword k = find_keyword({x.token, x.token_len});
        if (k != KW_COMMENT) {
            x.command = k;
            x.v = line_values{};
        } else {
            parameter(x, x.token, x.token_len);
        }
    }
    x.in_token = x.quoted = false;
    x.token_len = x.token_cps = 0;
}

void add_char(parse_ctx &x, uint32_t cp)
{
    x.in_token = true;
    if (x.token_cps == LSPCONFIG_TOKEN_MAX) {
        warn(x, "line too long");
        return;
    }
    x.token_len += utf8_write(cp, x.token + x.token_len);
    x.token_cps++;
}

void end_line(parse_ctx &x)
{
    end_token(x);
    if (x.line_has_tokens) {
        if (x.command == KW_COMMENT)
            warn(x, "unknown command");
        else
            run_command(x);
    }
    x.line_has_tokens = x.comment = false;
    x.command = KW_COMMENT;
    x.v = line_values{};
}

void read_text(parse_ctx &x, const unsigned char *s, size_t len)
{
    const unsigned char *end = s + len;
    bool line_start = true;
    while (s < end) {
        size_t used;
        uint32_t cp = utf8_read(s, (size_t)(end - s), &used);
        s += used;
        if (cp == 0)
            break;
        // Texts written on other systems end their lines with CR LF: the CR
        // must not become part of the line's last token.
        if (cp == '\r' && s < end && *s == '\n')
            continue;
        if (cp == '\n') {
            end_line(x);
            x.line++;
            line_start = true;
            continue;
        }
        line_start = false;
        if (x.comment)
            continue;
        if (x.quoted) {
            if (cp == '"' || cp == '\'')
                end_token(x);
            else if (cp != '#')  // a "#" inside quotes is dropped
                add_char(x, cp);
            continue;
        }
        if (cp == ' ' || cp == '\t') {
            end_token(x);
        } else if (cp == '#') {
            end_token(x);
            x.comment = true;
        } else if (cp == '"' || cp == '\'') {
            end_token(x);
            x.in_token = x.quoted = true;
        } else {
            add_char(x, utf8_upper(cp));
        }
    }
    end_line(x);
    // A text that ends with a line feed has no further line.
    if (line_start && x.line > 1)
        x.line--;
}

void reset_preset(lspconfig_preset *p)
{
    for (int i = 0; i < LSPCONFIG_WAYS; i++) {
        lspconfig_way &w = p->way[i];
        w.way.way_index = i;
        for (filter_record &r : w.way.sections)
            filter_record_reset(&r);
        w.way.rms_time = WAY_RMS_TIME;
        w.way.attack = WAY_ATTACK;
        w.way.release = WAY_RELEASE;
        w.way.peak_release = WAY_PEAK_RELEASE;
    }
}

// The sections a way did not fill pass the signal; its index is its number.
void finish_way(cfglsp *c, int way)
{
    for (int p = 0; p < c->preset_count; p++) {
        lspconfig_way &w = c->presets[p].way[way];
        for (int i = w.section_count; i < SYS_WAY_SECTIONS; i++)
            filter_record_reset(&w.way.sections[i]);
        w.way.way_index = way;
    }
}

void finish(parse_ctx &x)
{
    cfglsp *c = x.c;
    if (c->bank_count == 0)
        c->bank_count = 1;
    c->channels = 0;
    for (int way = 0; way < LSPCONFIG_WAYS; way++) {
        if (!c->ways_used[way])
            continue;
        c->channels++;
        finish_way(c, way);
    }
    if (c->channels > c->max_channels) {
        warn(x, "maximum channel count exceeded");
        c->channels = c->max_channels;
    }
    if (c->channels == 0) {
        c->ways_used[LSPCONFIG_WAY_FULLRANGE] = 1;
        c->presets[0].way[LSPCONFIG_WAY_FULLRANGE].used = 1;
        finish_way(c, LSPCONFIG_WAY_FULLRANGE);
        c->channels = 1;
    }
}

}  // namespace

cfglsp *lspconfig_parse(const char *text, size_t len)
{
    cfglsp *c = new (std::nothrow) cfglsp();
    if (!c)
        return nullptr;
    c->preset_count = 1;
    c->max_channels = LSPCONFIG_MAX_CHANNELS;
    c->max_presets = LSPCONFIG_MAX_PRESETS;
    c->max_banks = LSPCONFIG_MAX_BANKS;
    for (lspconfig_preset &p : c->presets)
        reset_preset(&p);

    // The reader's state is a few hundred bytes; it lives on the stack.
    parse_ctx x{};
    x.c = c;
    x.line = 1;
    read_text(x, (const unsigned char *)(text ? text : ""), text ? len : 0);
    finish(x);
    if (x.unlogged > 0)
        log_error("lspconfig_parse: %d more messages not logged\n", x.unlogged);
    return c;
}

cfglsp *lspconfig_parse_entry(std::unique_ptr<lspconfig_entry> entry, sys_lsp_summary *summary)
{
    if (!entry)
        return nullptr;
    cfglsp *c = lspconfig_parse(entry->config.data(), entry->config.size());
    if (!c)
        return nullptr;
    if (summary) {
        memset(summary, 0, sizeof *summary);
        summary->id = entry->id;
        summary->id_parent = entry->id_parent;
        summary->is_folder = entry->is_folder;
        // Only the built-in entry's code lies beyond 32 bits; the record has
        // always held its own value for it.
        summary->locked = entry->locked >= INT32_MIN && entry->locked <= INT32_MAX ? (int32_t)entry->locked
                                                                                   : SYS_LSP_DIRECT_LOCK;
        // The outputs a group takes follow the text, not a stored count.
        summary->ways = c->channels;
        summary->version = entry->version;
        copy_text(summary->label, SYS_LABEL_MAX, entry->label);
    }
    c->entry = std::move(entry);
    return c;
}

cfglsp *lspconfig_parse_from_id(int id, sys_lsp_summary *summary)
{
    std::optional<lspconfig_entry> e = dbase_get_lsp(id);
    if (!e)
        return nullptr;
    return lspconfig_parse_entry(std::make_unique<lspconfig_entry>(std::move(*e)), summary);
}

const lspconfig_way *lspconfig_get_way(const cfglsp *c, int n, int preset_nr)
{
    if (!(preset_nr >= 0 && preset_nr < c->preset_count))
        log_assert_fail("preset_nr < cfglsp->preset_count", __FILE__, __func__);
    const lspconfig_preset &p = c->presets[preset_nr];
    for (int i = 0; i < LSPCONFIG_WAYS; i++) {
        int way = c->reverse_order ? LSPCONFIG_WAYS - 1 - i : i;
        if (c->ways_used[way] && n-- == 0)
            return &p.way[way];
    }
    return nullptr;
}

int lspconfig_channels(const cfglsp *c)
{
    return c->channels;
}

const char *lspconfig_warnings(const cfglsp *c)
{
    return c->warnings_len ? c->warnings : nullptr;
}

void lspconfig_free(cfglsp *c)
{
    delete c;
}
