// Prints what the server computes and stores, in a form that two builds can
// compare text for text: the device's ARM build (soft-float, 32-bit long)
// under emulation against the native build. Every float is printed as its
// bit pattern, so a last-bit difference shows.
//
//   abi_probe filters      coefficients and response terms of a sweep of designs
//   abi_probe curves       fast conversions and equaliser curves
//   abi_probe commands     per command line: diagnostics, reports, record and FPGA window checksums
//   abi_probe dump         the full dump after the command script
//   abi_probe state FILE   the state file after the command script, copied to FILE, in hex
//   abi_probe load FILE    FILE as the state file of a fresh root: full dump, and whether
//                          saving it again gives the same bytes
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "crc.h"
#include "dsp/curves.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/filter.h"
#include "dsp/rt_thread.h"
#include "platform.h"
#include "report.h"
#include "report_format.h"
#include "report_source.h"
#include "support/capture.h"
#include "support/sim_root.h"
#include "system.h"
#include "wlan.h"

namespace {

uint32_t bits(float v)
{
    uint32_t u;
    memcpy(&u, &v, sizeof u);
    return u;
}

uint64_t bits(double v)
{
    uint64_t u;
    memcpy(&u, &v, sizeof u);
    return u;
}

void print_section(const char *name, const filter_section &s)
{
    printf("%s:", name);
    for (float c : s.coef_block)
        printf(" %08" PRIX32, bits(c));
    printf(" |");
    for (double c : {s.a0, s.a1, s.a2, s.b0, s.b1, s.b2})
        printf(" %016" PRIX64, bits(c));
    printf(" |");
    for (float r : s.response)
        printf(" %08" PRIX32, bits(r));
    printf("\n");
}

template <class F>
void design(const char *name, F f)
{
    filter_section s;
    memset(&s, 0, sizeof s);
    filter_reset_with_response(&s);
    f(&s);
    print_section(name, s);
}

// Corner frequencies from below the audio band to beyond Nyquist, Q values
// and gains from flat to the extremes the commands allow.
const double FREQS[] = {5, 17.5, 20, 31.5, 63, 100, 250, 1000, 2500, 6300, 12000, 16000, 20000, 24000, 40000, 47990};
const double QS[] = {0.1, 0.5, 0.541, 0.707, 1, 1.307, 2, 4.318477, 9, 20};
const double GAINS[] = {-30, -15, -12, -6, -0.5, 0, 0.1, 3, 6, 12, 15};

void probe_filters()
{
    char name[96];
    for (double f : FREQS) {
        for (double q : QS) {
            for (double g : GAINS) {
                snprintf(name, sizeof name, "peq(%g,%g,%g)", f, q, g);
                design(name, [&](filter_section *s) { filter_peq(s, f, q, g); });
                snprintf(name, sizeof name, "geq_band(%g,%g,%g)", f, q, g);
                design(name, [&](filter_section *s) { filter_geq_band(s, f, q, g); });
                for (int kind = 1; kind <= 4; kind++) {
                    snprintf(name, sizeof name, "peq_alpha(%g,%g,%g,%d)", f, q, g, kind);
                    design(name, [&](filter_section *s) { filter_peq_alpha(s, f, q, g, kind); });
                    snprintf(name, sizeof name, "peq_symmetric(%g,%g,%g,%d)", f, q, g, kind);
                    design(name, [&](filter_section *s) { filter_peq_symmetric(s, f, q, g, kind); });
                    snprintf(name, sizeof name, "low_shelf(%g,%g,%g,%d)", f, q, g, kind);
                    design(name, [&](filter_section *s) { filter_low_shelf(s, f, q, g, kind); });
                    snprintf(name, sizeof name, "high_shelf(%g,%g,%g,%d)", f, q, g, kind);
                    design(name, [&](filter_section *s) { filter_high_shelf(s, f, q, g, kind); });
                }
                snprintf(name, sizeof name, "low_shelf_slope(%g,%g,%g)", f, q, g);
                design(name, [&](filter_section *s) { filter_low_shelf_slope(s, f, q, g); });
                snprintf(name, sizeof name, "high_shelf_slope(%g,%g,%g)", f, q, g);
                design(name, [&](filter_section *s) { filter_high_shelf_slope(s, f, q, g); });
            }
            snprintf(name, sizeof name, "highpass2(%g,%g)", f, q);
            design(name, [&](filter_section *s) { filter_highpass2(s, f, q); });
            snprintf(name, sizeof name, "lowpass2(%g,%g)", f, q);
            design(name, [&](filter_section *s) { filter_lowpass2(s, f, q); });
            snprintf(name, sizeof name, "allpass2(%g,%g)", f, q);
            design(name, [&](filter_section *s) { filter_allpass2(s, f, q); });
        }
        snprintf(name, sizeof name, "highpass1(%g)", f);
        design(name, [&](filter_section *s) { filter_highpass1(s, f); });
        snprintf(name, sizeof name, "lowpass1(%g)", f);
        design(name, [&](filter_section *s) { filter_lowpass1(s, f); });
        snprintf(name, sizeof name, "allpass1(%g)", f);
        design(name, [&](filter_section *s) { filter_allpass1(s, f); });
        for (int kind = 0; kind <= 5; kind++) {
            filter_section two[2];
            memset(two, 0, sizeof two);
            filter_reset_with_response(&two[0]);
            filter_reset_with_response(&two[1]);
            filter_highpass_kind(two, kind, f);
            snprintf(name, sizeof name, "highpass_kind(%d,%g)/0", kind, f);
            print_section(name, two[0]);
            snprintf(name, sizeof name, "highpass_kind(%d,%g)/1", kind, f);
            print_section(name, two[1]);
        }
    }
    // The stored form keeps every bit.
    filter_section s, back;
    memset(&s, 0, sizeof s);
    memset(&back, 0, sizeof back);
    filter_reset_with_response(&s);
    filter_peq(&s, 1234.5, 3.3, -7.25);
    filter_record r;
    filter_store(&s, &r);
    filter_load(&back, &r);
    print_section("store_load(peq(1234.5,3.3,-7.25))", back);
}

void probe_curves()
{
    if (curves_init() != 0) {
        printf("curves_init failed\n");
        return;
    }
    for (int i = -400; i <= 400; i++) {
        float x = (float)i * 0.37f;
        printf("%d: pow10 %08" PRIX32 " db_to_lin %08" PRIX32 " log10 %08" PRIX32 " round %d\n", i,
               bits(fast_pow10(x / 10.0f)), bits(fast_db_to_lin(x)), bits(fast_log10(std::fabs(x) + 1e-3f)),
               round_nearest(x));
    }
    for (float x : {0.0f, -0.0f, 1e-38f, 1e38f, -1e38f, INFINITY, -INFINITY, NAN}) {
        printf("edge %08" PRIX32 ": pow10 %08" PRIX32 " db_to_lin %08" PRIX32 " log10 %08" PRIX32 "\n", bits(x),
               bits(fast_pow10(x)), bits(fast_db_to_lin(x)), bits(fast_log10(x)));
    }
    // A bus-like chain of sections as its curve in dB.
    filter_section chain[6];
    memset(chain, 0, sizeof chain);
    for (auto &s : chain)
        filter_reset_with_response(&s);
    filter_peq(&chain[0], 80, 0.9, 5);
    filter_peq(&chain[1], 3150, 4.318477, -9.5);
    filter_low_shelf(&chain[2], 120, 0.707, 3, 1);
    filter_high_shelf(&chain[3], 9000, 1, -4, 2);
    filter_highpass_kind(&chain[4], 2, 45);
    float curve[CURVE_POINTS];
    curve_begin(curve);
    curve_apply(curve, chain, 6);
    curve_to_db(curve);
    for (int i = 0; i < CURVE_POINTS; i++)
        printf("curve %d: %08" PRIX32 " philut %08" PRIX32 "\n", i, bits(curve[i]), bits(philut[i]));
}

// Valid and invalid lines of most commands: ranges, missing and surplus
// arguments, numbers too large for an int, reals in every spelling.
const char *const SCRIPT[] = {
    "2,1,0,-3.5", "2,1,1,20", "2,1,2,20.0001", "2,1,3,-60", "2,1,4,nan", "2,1,5,inf", "2,1,6,-1e-45",
    "2,1,7,1e39", "2,1,0,0x10", "2,1,0, 4", "2,1,1,+3.25e0", "2,1,8,0", "2,1,-1,0", "2,1,0",
    "2,1,4294967296,-7", "2,1,0,-7,99", "4294967298,1,0,-9", "2,4294967297,0,-8", "2,1,0,12abc",
    "1,1,0,1", "1,1,0,2", "1,1,7,0", "3,1,2,1", "3,1,2,4294967297",
    "4,1,0,-20.5", "5,1,0,4", "6,1,0,6", "7,1,0,2.5", "113,1,0,5", "114,1,0,250", "115,1,0,80",
    "8,1,0,3", "8,1,1,15", "8,1,1,99999999999", "8,1", "9,1,0,Vocals%20L", "9,1,1,%C3%A9t%C3%A9",
    "9,1,2,12345678901", "9,1,3,", "10,1,0,1", "11,1,1,2", "11,1,1,-1",
    "12,1,0,17,6.0", "12,1,0,0,-12", "12,1,0,30,15", "12,1,0,31,1", "12,1,1,5,15.5",
    "14,1,0,4", "14,1,0,2084", "15,1,1", "124,1,2,5,10",
    "16,1,2,1,250,0.7,-4.0,0", "16,1,2,0,20,0.1,15,0", "16,1,2,4,24000,20,-15,1", "16,1,2,5,1000,1,0,0",
    "16,1,3,2,1000,1,3", "17,1,0,0,120,4.5,0", "17,1,0,1,9000,-6,0", "17,1,0,2,100,1,0",
    "18,1,0,45,2,0", "18,1,1,80,4,0", "18,1,2,20,0,1", "18,1,3,30,7,0",
    "60,1,0,12.5", "60,1,1,-1", "23,1,2,0", "60,1,2,3.3", "23,1,0,0", "23,1,1,295.15",
    "35,1,0,Main%20PA", "37,1,1,1", "38,1,0,-6.5", "38,1,1,10", "39,1,0,1", "40,1,0,2", "41,1,0,3",
    "42,1,0,3", "43,1,0,1.25", "44,1,3,1", "45,1,0,3,3150,4.318477,-9.5,0", "46,1,0,1,8000,3,0",
    "47,1,0,60,3,0", "49,1,0,32", "120,1,1,0,4095", "121,1,2,0,1023", "120,1,9,0,1", "121,1,4294967296,0,1",
    "22,1,Stage%20Left", "24,1,0,26,100", "24,1,8,26,100", "27,1,1", "27,1,0", "62,1,1", "63,1,2",
    "86,1,-10", "83,1,0", "125,1,0", "13,1,0", "126,1,0", "-2,1,0,1", "a,1", "", "2,,0,-1",
    "112,1,correct%20horse%20battery", "112,1,short", "2,1,0,-3.5", "9,1,0,Vocals%20L",
};

rt_cycle_state cycle_state;

// A fresh root at the defaults with the DSP layer up; the start-up cycles'
// reports are not part of the comparison.
void start_server(const SimRoot &root)
{
    // Not a made-up passphrase: those are random.
    write_file(root.path(WLAN_PASSPHRASE_FILE), "probe%20passphrase");
    root.activate();
    platform_init();
    FdCapture quiet;
    if (system_init() != 0 || dsp_lowlevel_prepare() != 0) {
        fprintf(stdout, "start-up failed:\n%s", quiet.finish().c_str());
        exit(1);
    }
    report_source_init();
    rt_cycle_init(&cycle_state);
    cycle_state.startup_countdown = 0;
    for (int i = 0; i < 5; i++) {
        rt_cycle(&cycle_state);
        rt_info->command_stream_size = 0;
    }
    quiet.finish();
}

// One command and the cycle that applies it. Diagnostics lose their time
// prefix; the level lines are left out (the meters read nothing here).
std::string run_line(const char *line)
{
    std::string out;
    FdCapture cap;
    pthread_mutex_lock(&command_lock);
    command_work(line, 0);
    pthread_mutex_unlock(&command_lock);
    rt_cycle(&cycle_state);
    std::string reports(rt_info->command_stream, rt_info->command_stream_size);
    rt_info->command_stream_size = 0;
    out += strip_log_prefixes(cap.finish());
    size_t start = 0;
    while (start < reports.size()) {
        size_t end = reports.find('\n', start);
        if (end == std::string::npos)
            end = reports.size();
        std::string l = reports.substr(start, end - start);
        if (l.rfind("29,", 0) != 0 && l.rfind("30,", 0) != 0 && l.rfind("31,", 0) != 0)
            out += "< " + l + "\n";
        start = end + 1;
    }
    return out;
}

void run_script(bool print)
{
    for (const char *line : SCRIPT) {
        std::string out = run_line(line);
        if (print) {
            printf("> %s\n%s", line, out.c_str());
            printf("# record %08" PRIX32 " window %08" PRIX32 "\n", crc32(my_sys, sizeof *my_sys),
                   crc32((const void *)fpga_window, FPGA_WINDOW_SIZE));
        }
    }
}

std::string full_dump()
{
    std::vector<char> buf(1 << 20);
    report_writer w;
    report_writer_init(&w, buf.data(), buf.size());
    report_format_full_dump(&w);
    return std::string(buf.data(), w.len);
}

void print_hex(const std::string &bytes)
{
    for (size_t off = 0; off < bytes.size(); off += 32) {
        printf("%06zx:", off);
        for (size_t i = off; i < off + 32 && i < bytes.size(); i++)
            printf(" %02x", (unsigned char)bytes[i]);
        printf("\n");
    }
}

void save_quietly()
{
    FdCapture quiet;
    system_save_state();
    quiet.finish();
}

int usage()
{
    fprintf(stderr, "usage: abi_probe filters|curves|commands|dump|state FILE|load FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    std::string what = argv[1];
    if (what == "filters" && argc == 2) {
        probe_filters();
        return 0;
    }
    if (what == "curves" && argc == 2) {
        probe_curves();
        return 0;
    }
    SimRoot root;
    if (what == "commands" && argc == 2) {
        start_server(root);
        run_script(true);
    } else if (what == "dump" && argc == 2) {
        start_server(root);
        run_script(false);
        fputs(full_dump().c_str(), stdout);
    } else if (what == "state" && argc == 3) {
        start_server(root);
        run_script(false);
        save_quietly();
        std::string bytes = read_file(root.path(SYS_FILE_CURRENT));
        write_file(argv[2], bytes);
        print_hex(bytes);
    } else if (what == "load" && argc == 3) {
        std::string bytes = read_file(argv[2]);
        write_file(root.path(SYS_FILE_CURRENT), bytes);
        start_server(root);
        fputs(full_dump().c_str(), stdout);
        save_quietly();
        bool same = read_file(root.path(SYS_FILE_CURRENT)) == bytes;
        printf("saved again: %s\n", same ? "same bytes" : "DIFFERENT BYTES");
    } else {
        return usage();
    }
    return 0;
}
