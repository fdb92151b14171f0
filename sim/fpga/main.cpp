// fpgamodel: the software model of the FPGA as a program.
//   fpgamodel [--root DIR] --in in.wav --out out.wav   offline, as fast as it can
//   fpgamodel [--root DIR] --live [--in loop.wav]      real time, for the meters
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "fpga_signal.h"
#include "fpgamodel.h"
#include "wav.h"

namespace {

std::atomic<bool> stop_requested{false};

void on_signal(int)
{
    stop_requested = true;
}

void usage(FILE *to)
{
    fprintf(to,
            "usage: fpgamodel [--root DIR] --in IN.wav --out OUT.wav\n"
            "       fpgamodel [--root DIR] --live [--in LOOP.wav]\n"
            "Runs audio through what the server wrote into the simulation root's FPGA\n"
            "window (DIR/dev/fpgabus) and control port (DIR/dev/spi0). DIR defaults to\n"
            "$MIREL_ROOT. Input channels are A, B, C, D, AES C left, AES C right (1 to 6\n"
            "channels, 96000 Hz); the output has the 8 outputs as 32-bit float.\n"
            "Offline the input is processed as fast as possible; --live plays the file\n"
            "in a loop (or a test signal) in real time and only raises the meters.\n");
}

bool same_file(const std::string &a, const std::string &b)
{
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

struct options {
    std::string root, in, out;
    bool live = false;
};

// 0 to go on, else the exit status.
int parse(int argc, char **argv, options *o)
{
    const char *env = getenv("MIREL_ROOT");
    if (env != nullptr)
        o->root = env;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](std::string *to) {
            if (i + 1 >= argc) {
                fprintf(stderr, "fpgamodel: %s needs a value\n", a.c_str());
                return false;
            }
            *to = argv[++i];
            return true;
        };
        if (a == "--root" || a == "--in" || a == "--out") {
            if (!value(a == "--root" ? &o->root : a == "--in" ? &o->in : &o->out))
                return 2;
        } else if (a == "--live") {
            o->live = true;
        } else if (a == "--help" || a == "-h") {
            usage(stdout);
            return -1;
        } else {
            fprintf(stderr, "fpgamodel: unknown argument '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    const char *wrong = o->root.empty() ? "no simulation root (--root DIR or MIREL_ROOT)"
                        : o->live && !o->out.empty() ? "--out is for offline runs; --live only drives the meters"
                        : !o->live && (o->in.empty() || o->out.empty()) ? "offline runs need --in and --out"
                        : o->out == "-" ? "--out needs a file: its header is completed at the end"
                        : same_file(o->in, o->out) ? "--out names the input file, which it would overwrite"
                                                   : nullptr;
    if (wrong != nullptr) {
        fprintf(stderr, "fpgamodel: %s\n", wrong);
        usage(stderr);
        return 2;
    }
    return 0;
}

bool open_input(wav_reader *r, const std::string &path)
{
    std::string error;
    if (!wav_open_read(r, path, &error)) {
        fprintf(stderr, "fpgamodel: %s\n", error.c_str());
        return false;
    }
    if (r->rate != FPGAMODEL_RATE) {
        fprintf(stderr, "fpgamodel: %s: %d Hz; the DSP runs at 96000 Hz (resample it first: sox %s -r 96000 in96k.wav)\n",
                path.c_str(), r->rate, path.c_str());
        return false;
    }
    if (r->channels > FPGAMODEL_INPUTS) {
        fprintf(stderr, "fpgamodel: %s: %d channels; the device has 6 inputs (A, B, C, D, AES C left and right)\n",
                path.c_str(), r->channels);
        return false;
    }
    return true;
}

void say_control(const fpgamodel *m)
{
    printf("fpgamodel: control word 0x%04x: audio %s\n", m->spi.control,
           fpgamodel_audio_enabled(m) ? "on" : "off (silent until the server enables it)");
    fflush(stdout);
}

int run_offline(fpgamodel *m, const options &o)
{
    wav_reader in;
    if (!open_input(&in, o.in))
        return 1;
    wav_writer out;
    std::string error;
    if (!wav_open_write(&out, o.out, FPGAMODEL_OUTPUTS, FPGAMODEL_RATE, &error)) {
        fprintf(stderr, "fpgamodel: %s\n", error.c_str());
        return 1;
    }
    fpga_spi_poll(&m->spi);
    if (!fpgamodel_audio_enabled(m))
        fprintf(stderr, "fpgamodel: the control port has not enabled audio (the server does 2.5 s after its start): "
                        "the outputs are silent\n");
    constexpr long CHUNK = 4096;
    std::vector<float> a(CHUNK * (size_t)in.channels), b(CHUNK * FPGAMODEL_OUTPUTS);
    uint64_t total = 0;
    for (;;) {
        if (stop_requested) {
            fprintf(stderr, "fpgamodel: interrupted; %s holds what was processed\n", o.out.c_str());
            wav_close_write(&out, &error);
            return 1;
        }
        long n = wav_read(&in, a.data(), CHUNK);
        if (n < 0) {
            fprintf(stderr, "fpgamodel: %s: read error\n", o.in.c_str());
            return 1;
        }
        if (n == 0)
            break;
        fpgamodel_process(m, a.data(), in.channels, b.data(), n);
        if (!wav_write(&out, b.data(), n, &error)) {
            fprintf(stderr, "fpgamodel: %s\n", error.c_str());
            return 1;
        }
        total += (uint64_t)n;
    }
    if (!wav_close_write(&out, &error)) {
        fprintf(stderr, "fpgamodel: %s\n", error.c_str());
        return 1;
    }
    printf("fpgamodel: %s: 8 outputs, %llu frames (%.3f s)\n", o.out.c_str(), (unsigned long long)total,
           (double)total / FPGAMODEL_RATE);
    return 0;
}

void add_ns(struct timespec *t, long ns)
{
    t->tv_nsec += ns;
    while (t->tv_nsec >= 1000000000L) {
        t->tv_nsec -= 1000000000L;
        t->tv_sec++;
    }
}

double seconds_between(const struct timespec &a, const struct timespec &b)
{
    return (double)(b.tv_sec - a.tv_sec) + (double)(b.tv_nsec - a.tv_nsec) * 1e-9;
}

int run_live(fpgamodel *m, const options &o)
{
    wav_reader in;
    if (!o.in.empty()) {
        if (!open_input(&in, o.in))
            return 1;
        if (!in.sized || in.frames == 0) {
            fprintf(stderr, "fpgamodel: %s: a loop needs a file with audio in it\n", o.in.c_str());
            return 1;
        }
    }
    int channels = o.in.empty() ? FPGAMODEL_INPUTS : in.channels;
    printf("fpgamodel: live on %s, playing %s\n", o.root.c_str(),
           o.in.empty() ? fpga_signal_test_description() : (o.in + " in a loop").c_str());
    fflush(stdout);

    // 10 ms per wake-up: the meters are read every 25 ms.
    constexpr long CHUNK = FPGAMODEL_RATE / 100;
    std::vector<float> a(CHUNK * (size_t)channels), b(CHUNK * FPGAMODEL_OUTPUTS);
    uint64_t at = 0;
    uint16_t control = 0xFFFF;
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!stop_requested) {
        if (o.in.empty()) {
            fpga_signal_test(a.data(), CHUNK, at);
        } else {
            long got = 0;
            while (got < CHUNK) {
                long n = wav_read(&in, a.data() + got * channels, CHUNK - got);
                if (n < 0 || (n == 0 && !wav_rewind(&in))) {
                    fprintf(stderr, "fpgamodel: %s: read error\n", o.in.c_str());
                    return 1;
                }
                got += n;
            }
        }
        at += CHUNK;
        fpgamodel_process(m, a.data(), channels, b.data(), CHUNK);
        if (m->spi.control != control) {
            control = m->spi.control;
            say_control(m);
        }
        // Real time by absolute deadlines; after a stall (a stopped process,
        // a loaded machine) start afresh instead of racing to catch up.
        add_ns(&next, 10000000L);
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (seconds_between(next, now) > 0.2)
            next = now;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR && !stop_requested) {
        }
    }
    printf("fpgamodel: stopped\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    options o;
    int rc = parse(argc, argv, &o);
    if (rc != 0)
        return rc < 0 ? 0 : rc;
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    auto m = std::make_unique<fpgamodel>();
    std::string error;
    if (!fpgamodel_open(m.get(), o.root, &error)) {
        fprintf(stderr, "fpgamodel: %s\n", error.c_str());
        return 1;
    }
    return o.live ? run_live(m.get(), o) : run_offline(m.get(), o);
}
