#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/hw_rev.h"
#include "crc.h"
#include "platform.h"
#include "support/capture.h"
#include "support/sim_root.h"
#include "system.h"

namespace {

// Each test gets a fresh simulation root and a freshly initialised record.
class SystemState : public ::testing::Test {
protected:
    explicit SystemState(const std::string &mac = "02:00:00:00:12:34") : root_(mac) {}

    void SetUp() override
    {
        root_.activate();
        platform_init();
    }

    // system_init with its diagnostic lines, prefixes stripped.
    std::string init()
    {
        FdCapture cap;
        EXPECT_EQ(system_init(), 0);
        return strip_log_prefixes(cap.finish());
    }

    std::string current() const { return root_.path(SYS_FILE_CURRENT); }
    std::string backup() const { return root_.path(SYS_FILE_BACKUP); }
    std::string temp() const { return root_.path(SYS_FILE_TEMP); }

    // system_save_state with its diagnostic lines, prefixes stripped.
    static std::string save()
    {
        FdCapture cap;
        system_save_state();
        return strip_log_prefixes(cap.finish());
    }

    // A valid state file holding rec.
    static std::string file_of(const sys_file &rec)
    {
        std::string f(SYS_FILE_BYTES, '\0');
        uint32_t hdr[2] = {SYS_FILE_MAGIC, SYS_FILE_VERSION};
        memcpy(f.data(), hdr, 8);
        memcpy(f.data() + 8, &rec, sizeof rec);
        uint32_t crc = crc32(f.data(), SYS_FILE_CRC_OFFSET);
        memcpy(f.data() + SYS_FILE_CRC_OFFSET, &crc, 4);
        return f;
    }

    static sys_file marked(float gain)
    {
        sys_file rec;
        system_defaults(&rec);
        rec.bus[3].gain = gain;
        rec.service_mode = 1;
        return rec;
    }

    SimRoot root_;
};

const char *kNoFiles =
    "system_load_state: could not open current file, try to open backup\n"
    "system_load_state: could not open file\n";

}  // namespace

TEST_F(SystemState, FreshStartGivesDefaults)
{
    EXPECT_EQ(init(), kNoFiles);
    EXPECT_FALSE(file_exists(current()));
    const sys_file &s = *my_sys;
    EXPECT_STREQ(s.project_label, "UNNAMED");
    EXPECT_EQ(s.project_lock, -1);
    EXPECT_EQ(s.project_id, 0);
    // MAC 02:00:00:00:12:34: device number 0x1234 = 4660, 4660 mod 255 = 70
    EXPECT_STREQ(s.device_name, "KARU8-4660");
    EXPECT_EQ(s.ip[0], 192);
    EXPECT_EQ(s.ip[1], 168);
    EXPECT_EQ(s.ip[2], 0);
    EXPECT_EQ(s.ip[3], 70);
    EXPECT_EQ(s.netmask_bits, 24);
    EXPECT_FLOAT_EQ(s.temperature, 293.15f);
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        const sys_output &out = s.out[o];
        EXPECT_EQ(out.mute, 1);
        EXPECT_EQ(out.group_lsp, o);
        EXPECT_EQ(out.group_local, -1);
        EXPECT_STREQ(out.lsp.label, "Direct%20Out");
        EXPECT_EQ(out.lsp.ways, 1);
        EXPECT_EQ(out.lsp.locked, 5247913);
        EXPECT_FLOAT_EQ(out.peq[3].freq, 2500.0f);
        EXPECT_FLOAT_EQ(out.way.rms_time, 35.0f);
        EXPECT_FLOAT_EQ(out.way.attack, 10.0f);
        EXPECT_FLOAT_EQ(out.way.release, 60.0f);
        EXPECT_EQ(out.way.sections[11].coef_block[1], -1.0f);
        EXPECT_EQ(out.way.sections[11].b0, 1.0);
        EXPECT_EQ(s.amp[o].gain, 32);
        EXPECT_EQ(s.amp[o].peak_voltage, 100000000);
    }
    for (int b = 0; b < SYS_BUSES; b++) {
        const sys_bus &bus = s.bus[b];
        EXPECT_FLOAT_EQ(bus.gain, (b == 2 || b == 5) ? -6.0f : 0.0f);
        EXPECT_FLOAT_EQ(bus.comp_ratio, 1e8f);
        EXPECT_FLOAT_EQ(bus.peak_overshoot, 30.0f);
        EXPECT_FLOAT_EQ(bus.comp_attack, 50.0f);
        EXPECT_FLOAT_EQ(bus.comp_release, 80.0f);
        EXPECT_FLOAT_EQ(bus.peq[4].freq, 5000.0f);
        EXPECT_FLOAT_EQ(bus.shelf[0].freq, 100.0f);
        EXPECT_FLOAT_EQ(bus.shelf[1].freq, 10000.0f);
        EXPECT_FLOAT_EQ(bus.highpass.freq, 80.0f);
        EXPECT_EQ(bus.group_net, -1);
    }
}

TEST_F(SystemState, BusDefaultsOfThisRevision)
{
    init();
    struct row {
        const char *label;
        int patch, group;
    };
    const row hw2[8] = {{"A", 1, 0}, {"B", 2, 0}, {"A+B%20Mono", 3, -1}, {"C", 4, 1},
                        {"D", 8, 1}, {"C+D%20Mono", 12, -1}, {"AES%20C%20left", 16, 2}, {"AES%20C%20right", 32, 2}};
    const row hw1[8] = {{"A", 1, 0}, {"B", 2, 0}, {"A+B%20Mono", 3, -1}, {"", 0, -1},
                        {"", 0, -1}, {"", 0, -1}, {"", 0, -1},           {"", 0, -1}};
    const row *want = hw::rev == 2 ? hw2 : hw1;
    for (int b = 0; b < 8; b++) {
        EXPECT_STREQ(my_sys->bus[b].label, want[b].label) << b;
        EXPECT_EQ(my_sys->bus[b].patch, want[b].patch) << b;
        EXPECT_EQ(my_sys->bus[b].group_local, want[b].group) << b;
    }
}

class SystemStateMac255 : public SystemState {
protected:
    SystemStateMac255() : SystemState("02:00:00:00:01:FE") {}  // 510 = 2 x 255
};
TEST_F(SystemStateMac255, DeviceNumberMultipleOf255GivesOctet64)
{
    init();
    EXPECT_EQ(my_sys->ip[3], 64);
    EXPECT_STREQ(my_sys->device_name, "KARU8-510");
}

class SystemStateMacZero : public SystemState {
protected:
    SystemStateMacZero() : SystemState("02:00:00:00:00:00") {}
};
TEST_F(SystemStateMacZero, DeviceNumberZeroGivesOctet64)
{
    init();
    EXPECT_EQ(my_sys->ip[3], 64);
    EXPECT_STREQ(my_sys->device_name, "KARU8-0");
}

TEST_F(SystemState, SaveThenLoadIsByteIdentical)
{
    init();
    my_sys->bus[1].gain = -12.5f;
    strcpy(my_sys->out[6].label, "Sub%20L");
    my_sys->out[6].way.sections[4].a1 = -1.234567890123;
    my_sys->temperature = 300.0f;
    sys_file saved = *my_sys;
    system_save_state();
    ASSERT_TRUE(file_exists(current()));
    std::string file = read_file(current());
    ASSERT_EQ(file.size(), SYS_FILE_BYTES);
    EXPECT_EQ(file, file_of(saved));
    struct stat st;
    ASSERT_EQ(stat(current().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_FALSE(file_exists(temp()));

    system_defaults(my_sys);
    FdCapture cap;
    system_load_state();
    EXPECT_EQ(cap.finish(), "");
    EXPECT_EQ(memcmp(my_sys, &saved, sizeof saved), 0);
}

TEST_F(SystemState, SaveKeepsThePreviousGenerationAsBackup)
{
    init();
    my_sys->bus[0].gain = 1.0f;
    system_save_state();
    std::string first = read_file(current());
    my_sys->bus[0].gain = 2.0f;
    system_save_state();
    EXPECT_EQ(read_file(backup()), first);
    EXPECT_NE(read_file(current()), first);
}

TEST_F(SystemState, DamagedCurrentFileNeverReplacesAGoodBackup)
{
    // A save cut off by a power failure left .current short; .bak is good.
    write_file(current(), file_of(marked(7.0f)).substr(0, 16384));
    write_file(backup(), file_of(marked(-3.0f)));
    EXPECT_EQ(init(),
              "system_load_state: x[16384] != sizeof(struct sys_file)[23104]\n"
              "system_load_state: current file not valid, try to open backup\n");
    EXPECT_FLOAT_EQ(my_sys->bus[3].gain, -3.0f);

    my_sys->bus[3].gain = 4.0f;
    EXPECT_EQ(save(), "system_save_state: current file not valid, backup kept\n");
    EXPECT_EQ(read_file(backup()), file_of(marked(-3.0f)));  // the only good copy survives
    EXPECT_EQ(read_file(current()), file_of(*my_sys));
    // From now on each save keeps the previous generation.
    sys_file previous = *my_sys;
    my_sys->bus[3].gain = 5.0f;
    EXPECT_EQ(save(), "");
    EXPECT_EQ(read_file(backup()), file_of(previous));
    EXPECT_EQ(read_file(current()), file_of(*my_sys));
}

TEST_F(SystemState, FailedSaveStepsAreReportedAndLeaveTheFiles)
{
    init();
    my_sys->bus[3].gain = 1.0f;
    save();
    std::string first = read_file(current());
    my_sys->bus[3].gain = 2.0f;
    save();
    std::string second = read_file(current());

    // The temporary file cannot be made: nothing changes on disk.
    ASSERT_EQ(mkdir(temp().c_str(), 0755), 0);
    my_sys->bus[3].gain = 3.0f;
    std::string image = file_of(*my_sys);
    FdCapture cap;
    EXPECT_EQ(system_save_file((const uint8_t *)image.data(), image.size()), -1);
    EXPECT_EQ(strip_log_prefixes(cap.finish()), "system_save_state: cannot create " + temp() + ": Is a directory\n");
    EXPECT_EQ(read_file(current()), second);
    EXPECT_EQ(read_file(backup()), first);
    ASSERT_EQ(rmdir(temp().c_str()), 0);

    // The current file's name is taken by a folder that cannot be replaced:
    // reported, the new file is not left behind, the backup is untouched.
    ASSERT_EQ(unlink(current().c_str()), 0);
    ASSERT_EQ(mkdir(current().c_str(), 0755), 0);
    write_file(current() + "/x", "x");
    EXPECT_EQ(save(),
              "system_save_state: current file not valid, backup kept\n"
              "system_save_state: cannot replace the current file: Is a directory\n");
    EXPECT_FALSE(file_exists(temp()));
    EXPECT_EQ(read_file(backup()), first);
}

TEST_F(SystemState, SavedFileModeIgnoresTheUmaskAndOldTemporaryFiles)
{
    init();
    write_file(temp(), "left behind by a save that was cut off");
    mode_t old = umask(077);
    my_sys->bus[3].gain = 6.0f;
    EXPECT_EQ(save(), "");
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(current().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(read_file(current()), file_of(*my_sys));
    EXPECT_FALSE(file_exists(temp()));
}

TEST_F(SystemState, OnlyBackupPresent)
{
    write_file(backup(), file_of(marked(7.0f)));
    EXPECT_EQ(init(), "system_load_state: could not open current file, try to open backup\n");
    EXPECT_FLOAT_EQ(my_sys->bus[3].gain, 7.0f);
    EXPECT_EQ(my_sys->service_mode, 0);  // forced off on every load
}

TEST_F(SystemState, FlippedByteFallsBackToBackup)
{
    std::string f = file_of(marked(7.0f));
    f[5000] ^= 0x01;
    write_file(current(), f);
    write_file(backup(), file_of(marked(-3.0f)));
    EXPECT_EQ(init(),
              "system_load_state: file crc error\n"
              "system_load_state: current file not valid, try to open backup\n");
    EXPECT_FLOAT_EQ(my_sys->bus[3].gain, -3.0f);
}

TEST_F(SystemState, FlippedByteWithoutBackupKeepsDefaults)
{
    std::string f = file_of(marked(7.0f));
    f[5000] ^= 0x01;
    write_file(current(), f);
    EXPECT_EQ(init(),
              "system_load_state: file crc error\n"
              "system_load_state: current file not valid, try to open backup\n"
              "system_load_state: could not open file\n");
    sys_file def;
    system_defaults(&def);
    EXPECT_EQ(memcmp(my_sys, &def, sizeof def), 0);
}

TEST_F(SystemState, InterruptedSaveLoadsBackup)
{
    // A power failure in the middle of writing .current.
    write_file(current(), file_of(marked(7.0f)).substr(0, 11000));
    write_file(backup(), file_of(marked(-3.0f)));
    EXPECT_EQ(init(),
              "system_load_state: x[11000] != sizeof(struct sys_file)[23104]\n"
              "system_load_state: current file not valid, try to open backup\n");
    EXPECT_FLOAT_EQ(my_sys->bus[3].gain, -3.0f);
}

TEST_F(SystemState, BothFilesDamagedKeepDefaults)
{
    std::string f = file_of(marked(7.0f));
    write_file(current(), f.substr(0, 23103));
    std::string g = f;
    g[0] = 'X';
    write_file(backup(), g);
    EXPECT_EQ(init(),
              "system_load_state: x[23103] != sizeof(struct sys_file)[23104]\n"
              "system_load_state: current file not valid, try to open backup\n"
              "system_load_state: file type error (wrong magic)\n");
    sys_file def;
    system_defaults(&def);
    EXPECT_EQ(memcmp(my_sys, &def, sizeof def), 0);
}

TEST_F(SystemState, LongerFileIsJudgedByItsFirstBytes)
{
    write_file(current(), file_of(marked(7.0f)) + std::string(500, 'z'));
    EXPECT_EQ(init(), "");
    EXPECT_FLOAT_EQ(my_sys->bus[3].gain, 7.0f);
}

TEST_F(SystemState, UnterminatedTextsAreCutInsideTheirFields)
{
    sys_file rec = marked(7.0f);
    memset(rec.bus[4].label, 'A', sizeof rec.bus[4].label);
    memset(rec.device_name, 'B', sizeof rec.device_name);
    memset(rec.project_description, 'C', sizeof rec.project_description);
    write_file(current(), file_of(rec));
    EXPECT_EQ(init(), "");
    EXPECT_EQ(strlen(my_sys->bus[4].label), (size_t)SYS_LABEL_SIZE - 1);
    EXPECT_EQ(strlen(my_sys->device_name), (size_t)SYS_LABEL_SIZE - 1);
    EXPECT_EQ(strlen(my_sys->project_description), (size_t)SYS_DESCRIPTION_SIZE - 1);
}

TEST_F(SystemState, ValuesNoOperationCouldSetTakeTheirDefaults)
{
    // A foreign or damaged record that still carries a good CRC.
    sys_file rec = marked(7.0f);
    rec.bus[3].geq[5] = NAN;
    rec.bus[1].peq[2].freq = 1e30f;
    rec.out[4].way.delay = -INFINITY;
    rec.bus[2].comp_ratio = 1e8f;  // the infinite ratio is a real value
    write_file(current(), file_of(rec));
    EXPECT_EQ(init(), "system_load_state: 3 values out of range set to their defaults\n");
    sys_file def;
    system_defaults(&def);
    EXPECT_FLOAT_EQ(my_sys->bus[3].gain, 7.0f);  // the rest stays as stored
    EXPECT_EQ(my_sys->bus[3].geq[5], def.bus[3].geq[5]);
    EXPECT_EQ(my_sys->bus[1].peq[2].freq, def.bus[1].peq[2].freq);
    EXPECT_EQ(my_sys->out[4].way.delay, def.out[4].way.delay);
    EXPECT_EQ(my_sys->bus[2].comp_ratio, 1e8f);
}

TEST_F(SystemState, WrongVersionIsRejected)
{
    std::string f = file_of(marked(7.0f));
    uint32_t v = 221;
    memcpy(f.data() + 4, &v, 4);
    uint32_t crc = crc32(f.data(), SYS_FILE_CRC_OFFSET);
    memcpy(f.data() + SYS_FILE_CRC_OFFSET, &crc, 4);
    write_file(current(), f);
    EXPECT_EQ(init(),
              "system_load_state: file version error\n"
              "system_load_state: current file not valid, try to open backup\n"
              "system_load_state: could not open file\n");
    EXPECT_FLOAT_EQ(my_sys->bus[3].gain, 0.0f);
}

TEST_F(SystemState, GarbageFilesNeverHalfLoad)
{
    // Random content of every length around the real one: defaults, never a crash.
    srand(7);
    for (size_t len : {0ul, 8ul, 19132ul, 23104ul, 30000ul}) {
        std::string f(len, '\0');
        for (auto &c : f)
            c = (char)rand();
        if (len >= 8) {
            uint32_t hdr[2] = {SYS_FILE_MAGIC, len == 19132 ? 102u : 220u};
            memcpy(f.data(), hdr, 8);
        }
        write_file(current(), f);
        init();
        sys_file def;
        system_defaults(&def);
        EXPECT_EQ(memcmp(my_sys, &def, sizeof def), 0) << len;
    }
}

TEST(SpeedOfSound, AtTwentyDegrees)
{
    EXPECT_NEAR(system_speed_of_sound(293.15), 343.42, 1e-9);
    EXPECT_NEAR(system_speed_of_sound(273.15), 331.5, 1e-9);
}
