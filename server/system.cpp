#include "system.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "common/hw_rev.h"
#include "crc.h"
#include "log.h"
#include "platform.h"
#include "system_converter.h"

sys_file *my_sys = nullptr;
uint8_t *my_filesavebuf = nullptr;
uint8_t *my_fileloadbuf = nullptr;

namespace {

struct bus_default {
    const char *label;
    int32_t patch;
    int32_t group_local;
};

// Revision 2 patches and labels all eight buses; revision 1 only A, B and A+B.
constexpr bus_default bus_defaults_hw2[SYS_BUSES] = {
    {"A", 1, 0},      {"B", 2, 0},      {"A+B%20Mono", 3, -1},     {"C", 4, 1},
    {"D", 8, 1},      {"C+D%20Mono", 12, -1}, {"AES%20C%20left", 16, 2}, {"AES%20C%20right", 32, 2},
};
constexpr bus_default bus_defaults_hw1[SYS_BUSES] = {
    {"A", 1, 0}, {"B", 2, 0}, {"A+B%20Mono", 3, -1}, {"", 0, -1},
    {"", 0, -1}, {"", 0, -1}, {"", 0, -1},           {"", 0, -1},
};
constexpr const bus_default *bus_defaults = hw::has_inputs_cd ? bus_defaults_hw2 : bus_defaults_hw1;

constexpr float bus_peq_freq[SYS_BUS_PEQ_BANDS] = {50, 200, 800, 2500, 5000};

void put_u32(uint8_t *p, uint32_t v)
{
    memcpy(p, &v, 4);
}

uint32_t get_u32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

void copy_label(char *dst, const char *src)
{
    snprintf(dst, SYS_LABEL_SIZE, "%s", src);
}

void defaults_peq(sys_peq *peq, int n)
{
    for (int i = 0; i < n; i++)
        peq[i] = sys_peq{bus_peq_freq[i], 1.0f, 0.0f, 0};
}

void defaults_filters(sys_shelf shelf[2], sys_highpass *hp)
{
    shelf[0] = sys_shelf{100.0f, 0.0f, 0, 0};
    shelf[1] = sys_shelf{10000.0f, 0.0f, 0, 0};
    *hp = sys_highpass{80.0f, 0, 0, 0};
}

void defaults_bus(sys_bus *b, int i)
{
    b->gain = (i == 2 || i == 5) ? -6.0f : 0.0f;
    b->comp_ratio = 1e8f;
    b->peak_overshoot = 30.0f;
    b->comp_attack = 50.0f;
    b->comp_release = 80.0f;
    defaults_peq(b->peq, SYS_BUS_PEQ_BANDS);
    defaults_filters(b->shelf, &b->highpass);
    copy_label(b->label, bus_defaults[i].label);
    b->patch = bus_defaults[i].patch;
    b->group_local = bus_defaults[i].group_local;
    b->group_net = -1;
}

void defaults_output(sys_output *o, int i)
{
    defaults_peq(o->peq, SYS_OUT_PEQ_BANDS);
    defaults_filters(o->shelf, &o->highpass);
    o->group_local = -1;
    o->group_net = -1;
    o->group_lsp = i;
    system_default_preset(o);
    o->mute = 1;
}

// Every text field ends inside its array, whatever a foreign file held, so
// no later reader of a label can run past it.
void terminate_texts(sys_file *s)
{
    s->project_label[SYS_LABEL_SIZE - 1] = 0;
    s->project_description[SYS_DESCRIPTION_SIZE - 1] = 0;
    s->device_name[SYS_LABEL_SIZE - 1] = 0;
    for (auto &b : s->bus)
        b.label[SYS_LABEL_SIZE - 1] = 0;
    for (auto &o : s->out) {
        o.label[SYS_LABEL_SIZE - 1] = 0;
        o.lsp.label[SYS_LABEL_SIZE - 1] = 0;
    }
}

// Beyond any value an operation accepts (the infinite ratio is 1e8), yet
// short enough in every report format.
constexpr float SYS_FLOAT_LIMIT = 1e9f;

// A stored number that no operation could have set (not finite, or absurdly
// large: a foreign or damaged record that still passed the CRC) would make
// its reports overrun the room the update passes keep for them. Such values
// take their defaults; returns how many did.
int repair_floats(sys_file *s, const sys_file *def)
{
    int n = 0;
    auto fix = [&n](float &v, float d) {
        if (!std::isfinite(v) || std::fabs(v) > SYS_FLOAT_LIMIT) {
            v = d;
            n++;
        }
    };
    auto fix_eq = [&](sys_peq *peq, const sys_peq *dpeq, int bands, sys_shelf *shelf, const sys_shelf *dshelf,
                      sys_highpass *hp, const sys_highpass *dhp) {
        for (int i = 0; i < bands; i++) {
            fix(peq[i].freq, dpeq[i].freq);
            fix(peq[i].q, dpeq[i].q);
            fix(peq[i].gain, dpeq[i].gain);
        }
        for (int i = 0; i < 2; i++) {
            fix(shelf[i].freq, dshelf[i].freq);
            fix(shelf[i].gain, dshelf[i].gain);
        }
        fix(hp->freq, dhp->freq);
    };
    for (int b = 0; b < SYS_BUSES; b++) {
        sys_bus &x = s->bus[b];
        const sys_bus &d = def->bus[b];
        for (auto [v, dv] : {std::pair{&x.gain, d.gain}, {&x.delay_m, d.delay_m}, {&x.delay_ms, d.delay_ms},
                             {&x.comp_thres, d.comp_thres}, {&x.comp_ratio, d.comp_ratio}, {&x.comp_knee, d.comp_knee},
                             {&x.peak_overshoot, d.peak_overshoot}, {&x.comp_attack, d.comp_attack},
                             {&x.comp_release, d.comp_release}, {&x.peak_release, d.peak_release}})
            fix(*v, dv);
        for (int g = 0; g < SYS_GEQ_BANDS; g++)
            fix(x.geq[g], d.geq[g]);
        fix_eq(x.peq, d.peq, SYS_BUS_PEQ_BANDS, x.shelf, d.shelf, &x.highpass, &d.highpass);
    }
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        sys_output &x = s->out[o];
        const sys_output &d = def->out[o];
        sys_way &w = x.way;
        const sys_way &dw = d.way;
        for (auto [v, dv] : {std::pair{&x.gain, d.gain}, {&x.delay_m, d.delay_m}, {&x.delay_ms, d.delay_ms},
                             {&w.gain, dw.gain}, {&w.delay, dw.delay}, {&w.rms_limit, dw.rms_limit},
                             {&w.peak_limit, dw.peak_limit}, {&w.rms_time, dw.rms_time}, {&w.attack, dw.attack},
                             {&w.release, dw.release}, {&w.peak_release, dw.peak_release}})
            fix(*v, dv);
        fix_eq(x.peq, d.peq, SYS_OUT_PEQ_BANDS, x.shelf, d.shelf, &x.highpass, &d.highpass);
    }
    fix(s->temperature, def->temperature);
    return n;
}

// What a file image is, as the loader judges it.
enum state_check { STATE_VALID, STATE_BAD_LENGTH, STATE_BAD_MAGIC, STATE_BAD_CRC, STATE_BAD_VERSION };

// Checks a file image of got bytes (buf holds SYS_FILE_BYTES), converting a
// version-102 file in place first. Silent: the caller reports the result.
state_check check_image(uint8_t *buf, size_t got, size_t *len)
{
    *len = got;
    if (got >= 8 && get_u32(buf + 4) == 102)
        *len = system_converter_102(buf, got);
    if (*len != SYS_FILE_BYTES)
        return STATE_BAD_LENGTH;
    if (get_u32(buf) != SYS_FILE_MAGIC)
        return STATE_BAD_MAGIC;
    if (crc32(buf, SYS_FILE_CRC_OFFSET) != get_u32(buf + SYS_FILE_CRC_OFFSET))
        return STATE_BAD_CRC;
    if (get_u32(buf + 4) != SYS_FILE_VERSION)
        return STATE_BAD_VERSION;
    return STATE_VALID;
}

// Reads one state file into the load buffer and checks it; on success the
// record is copied into the live state. Prints the line of the failed check.
bool load_from(int fd)
{
    memset(my_fileloadbuf, 0, SYS_FILE_BYTES);
    size_t got = platform_read_fd(fd, my_fileloadbuf, SYS_FILE_BYTES);
    size_t len;
    switch (check_image(my_fileloadbuf, got, &len)) {
    case STATE_VALID:
        break;
    case STATE_BAD_LENGTH:
        log_error("system_load_state: x[%d] != sizeof(struct sys_file)[%zd]\n", (int)len, (ssize_t)SYS_FILE_BYTES);
        return false;
    case STATE_BAD_MAGIC:
        log_error("system_load_state: file type error (wrong magic)\n");
        return false;
    case STATE_BAD_CRC:
        log_error("system_load_state: file crc error\n");
        return false;
    case STATE_BAD_VERSION:
        log_error("system_load_state: file version error\n");
        return false;
    }
    // The record loaded over holds the defaults (loading is part of start-up).
    static sys_file defaults;
    defaults = *my_sys;
    memcpy(my_sys, my_fileloadbuf + SYS_FILE_RECORD_OFFSET, sizeof(sys_file));
    my_sys->service_mode = 0;
    terminate_texts(my_sys);
    if (int n = repair_floats(my_sys, &defaults))
        log_error("system_load_state: %d values out of range set to their defaults\n", n);
    return true;
}

// Whether the file at path holds a generation the loader would accept.
// Uses its own buffer: the save must not depend on the load buffer.
bool file_is_valid(const std::string &path)
{
    static uint8_t image[SYS_FILE_BYTES];
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    memset(image, 0, sizeof image);
    size_t got = platform_read_fd(fd, image, sizeof image);
    close(fd);
    size_t len;
    return check_image(image, got, &len) == STATE_VALID;
}

// A file name's folder must be synced for a rename in it to survive a power cut.
bool sync_folder(const std::string &path)
{
    std::string dir = path.substr(0, path.rfind('/') + 1);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
        log_error("system_save_state: cannot sync %s: %s\n", dir.c_str(), strerror(errno));
        if (fd >= 0)
            close(fd);
        return false;
    }
    close(fd);
    return true;
}

// Writes the image to a new file at path and makes it durable. On failure
// the file is removed again.
bool write_new_file(const std::string &path, const uint8_t *file, size_t len)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, SYS_FILE_MODE);
    if (fd < 0) {
        log_error("system_save_state: cannot create %s: %s\n", path.c_str(), strerror(errno));
        return false;
    }
    bool ok = true;
    // The mode is the file's, whatever the process's umask.
    if (fchmod(fd, SYS_FILE_MODE) != 0) {
        log_error("system_save_state: cannot set the mode of %s: %s\n", path.c_str(), strerror(errno));
        ok = false;
    }
    if (ok && platform_write_fd(fd, file, len) < len) {
        log_output("#####f2: %d\n", fd);
        log_error("system_save_state: error while writing\n");
        ok = false;
    }
    if (ok && fsync(fd) != 0) {
        log_error("system_save_state: cannot sync %s: %s\n", path.c_str(), strerror(errno));
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        log_error("system_save_state: cannot close %s: %s\n", path.c_str(), strerror(errno));
        ok = false;
    }
    if (!ok)
        unlink(path.c_str());
    return ok;
}

}  // namespace

double system_speed_of_sound(double kelvin)
{
    return (kelvin - 273.15) * 0.596 + 331.5;
}

int device_mac(uint8_t mac[6])
{
    char out[64];
    if (platform_read(out, sizeof out, "iplink show eth0 | awk 'NR==2 {print toupper($2)}'") != 0)
        return -1;
    unsigned v[6];
    char tail;
    if (sscanf(out, "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &tail) < 6)
        return -1;
    for (int i = 0; i < 6; i++)
        mac[i] = (uint8_t)v[i];
    return 0;
}

int system_device_number()
{
    // The MAC address never changes while the device runs: read it once (per
    // root, for tests that change roots), not through a shell at every
    // request of the default name.
    static std::string read_in;
    static int number = -1;
    if (number < 0 || read_in != platform_root()) {
        uint8_t mac[6];
        if (device_mac(mac) != 0)
            return 0;  // tried again next time
        number = mac[4] * 256 + mac[5];
        read_in = platform_root();
    }
    return number;
}

void device_default_name(char *buf, size_t size)
{
    snprintf(buf, size, "KARU8-%d", system_device_number());
}

void system_default_preset(sys_output *o)
{
    memset(&o->lsp, 0, sizeof o->lsp);
    o->lsp.ways = 1;
    o->lsp.locked = SYS_LSP_DIRECT_LOCK;
    copy_label(o->lsp.label, SYS_LSP_DIRECT_LABEL);
    memset(&o->way, 0, sizeof o->way);
    for (auto &r : o->way.sections)
        filter_record_reset(&r);
    o->way.rms_time = 35.0f;
    o->way.attack = 10.0f;
    o->way.release = 60.0f;
}

void system_defaults(sys_file *s)
{
    memset(s, 0, sizeof *s);
    copy_label(s->project_label, "UNNAMED");
    s->project_lock = -1;
    for (int i = 0; i < SYS_BUSES; i++)
        defaults_bus(&s->bus[i], i);
    for (int i = 0; i < SYS_OUTPUTS; i++)
        defaults_output(&s->out[i], i);

    int number = system_device_number();
    int octet = number % 255;
    s->ip[0] = 192;
    s->ip[1] = 168;
    s->ip[2] = 0;
    s->ip[3] = octet == 0 ? 64 : octet;
    s->netmask_bits = 24;
    snprintf(s->device_name, sizeof s->device_name, "KARU8-%d", number);
    s->temperature = 293.15f;
    for (auto &a : s->amp) {
        a.gain = 32;
        a.peak_voltage = 100000000;
    }
}

int system_init()
{
    // Allocated once for the life of the process (a second call reuses them).
    if (my_sys == nullptr)
        my_sys = (sys_file *)calloc(1, sizeof(sys_file));
    if (my_sys == nullptr) {
        log_error("system_init: my_sys == NULL\n");
        return -1;
    }
    if (my_filesavebuf == nullptr)
        my_filesavebuf = (uint8_t *)calloc(1, SYS_FILE_BYTES);
    if (my_filesavebuf == nullptr) {
        log_error("system_init: my_filesavebuf == NULL\n");
        return -1;
    }
    if (my_fileloadbuf == nullptr)
        my_fileloadbuf = (uint8_t *)calloc(1, SYS_FILE_BYTES);
    if (my_fileloadbuf == nullptr) {
        log_error("system_init: my_fileloadbuf == NULL\n");
        return -1;
    }
    system_defaults(my_sys);
    system_load_state();
    return 0;
}

void system_load_state()
{
    // A current file that fails a check must not cost the settings: the
    // backup is tried next, with the same checks; only when both fail do
    // the defaults stay.
    std::string current = platform_path(SYS_FILE_CURRENT);
    std::string backup = platform_path(SYS_FILE_BACKUP);
    int fd = open(current.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        bool loaded = load_from(fd);
        close(fd);
        if (loaded)
            return;
        log_error("system_load_state: current file not valid, try to open backup\n");
    } else {
        log_error("system_load_state: could not open current file, try to open backup\n");
    }
    fd = open(backup.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        log_error("system_load_state: could not open file\n");
        return;
    }
    load_from(fd);
    close(fd);
}

void system_state_snapshot(uint8_t *file)
{
    put_u32(file, SYS_FILE_MAGIC);
    put_u32(file + 4, SYS_FILE_VERSION);
    memcpy(file + SYS_FILE_RECORD_OFFSET, my_sys, sizeof(sys_file));
    memset(file + SYS_FILE_RECORD_OFFSET + sizeof(sys_file), 0, SYS_FILE_CRC_OFFSET - SYS_FILE_RECORD_OFFSET - sizeof(sys_file));
}

void system_state_seal(uint8_t *file)
{
    put_u32(file + SYS_FILE_CRC_OFFSET, crc32(file, SYS_FILE_CRC_OFFSET));
}

void system_state_image(uint8_t *file)
{
    system_state_snapshot(file);
    system_state_seal(file);
}

int system_save_file(const uint8_t *file, size_t len)
{
    // One save at a time, whichever thread asks: they share the file names.
    static std::mutex save_lock;
    std::lock_guard<std::mutex> hold(save_lock);
    // A power cut at any point leaves the newest or the previous generation
    // loadable: the new one is complete on disk before any name changes, and
    // the backup is only ever replaced by a valid generation.
    std::string current = platform_path(SYS_FILE_CURRENT);
    std::string backup = platform_path(SYS_FILE_BACKUP);
    std::string temp = platform_path(SYS_FILE_TEMP);
    if (!write_new_file(temp, file, len))
        return -1;
    if (file_is_valid(current)) {
        if (rename(current.c_str(), backup.c_str()) != 0)
            log_error("system_save_state: cannot keep the backup: %s\n", strerror(errno));
    } else if (access(current.c_str(), F_OK) == 0) {
        log_error("system_save_state: current file not valid, backup kept\n");
    }
    if (rename(temp.c_str(), current.c_str()) != 0) {
        log_error("system_save_state: cannot replace the current file: %s\n", strerror(errno));
        unlink(temp.c_str());
        return -1;
    }
    return sync_folder(current) ? 0 : -1;
}

void system_save_state()
{
    system_state_image(my_filesavebuf);
    system_save_file(my_filesavebuf, SYS_FILE_BYTES);
}
