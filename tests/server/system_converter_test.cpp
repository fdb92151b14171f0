#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "crc.h"
#include "platform.h"
#include "support/capture.h"
#include "support/sim_root.h"
#include "system.h"
#include "system_converter.h"

namespace {

// A version-102 file written field by field at its own offsets.
class File102 {
public:
    File102() : b(SYS_FILE_BYTES, 0)
    {
        u32(0, 54223);
        u32(4, 102);
    }
    void u32(size_t off, uint32_t v) { memcpy(&b[off], &v, 4); }
    void i32(size_t off, int32_t v) { memcpy(&b[off], &v, 4); }
    void f32(size_t off, float v) { memcpy(&b[off], &v, 4); }
    void text(size_t off, const char *s) { memcpy(&b[off], s, strlen(s) + 1); }
    void seal() { u32(19128, crc32(b.data(), 19128)); }
    std::vector<uint8_t> b;
};

File102 sample()
{
    File102 f;
    f.i32(8, 42);
    f.text(12, "Old%20Show");
    f.text(216, "described");
    f.i32(4316, 1);
    f.i32(4320, 1234);
    for (int i = 0; i < 8; i++) {
        size_t bus = 4328 + 508 * i;
        f.f32(bus + 0, -1.5f - i);
        f.i32(bus + 4, i & 1);
        f.f32(bus + 8, 3.4342f);  // metres
        f.f32(bus + 16, -20.0f);
        f.f32(bus + 20, 4.0f);
        f.f32(bus + 24, 6.0f);
        f.f32(bus + 28, 12.0f);
        f.i32(bus + 32, 0x820);
        f.f32(bus + 36 + 4 * 30, 9.0f);          // last GEQ band
        f.f32(bus + 160 + 16 * 4, 5000.0f);      // PEQ band 4 freq
        f.f32(bus + 240 + 16, 12000.0f);         // high shelf freq
        f.f32(bus + 272, 120.0f);                // high-pass freq
        f.i32(bus + 276, 2);
        f.text(bus + 288, "Bus");
        f.i32(bus + 492, 1);
        f.i32(bus + 496, 5);
        f.i32(bus + 500, 3);
        f.i32(bus + 504, 6);
    }
    for (int i = 0; i < 8; i++) {
        size_t out = 8392 + 1300 * i;
        f.f32(out + 0, 2.0f);
        f.i32(out + 4, 1);
        f.f32(out + 8, 10.0f);
        f.f32(out + 12, 3.4342f);
        f.i32(out + 16, 0x100);
        f.f32(out + 20 + 16 * 3 + 8, -4.0f);     // PEQ band 3 gain
        f.f32(out + 84, 90.0f);
        f.f32(out + 116, 300.0f);
        f.text(out + 132, "Out");
        f.i32(out + 336, 7 - i);
        f.i32(out + 340, 2);
        f.i32(out + 344, 4);
        f.i32(out + 348, 17);
        f.i32(out + 352, i / 2);
        f.i32(out + 360, 17);                    // summary id
        f.i32(out + 376, 2);                     // summary ways
        f.text(out + 384, "Top%20Box");
        f.i32(out + 588, 1);                     // way index
        f.f32(out + 592, -2.5f);                 // way gain
        f.f32(out + 600, 0.75f);                 // way delay
        for (int k = 0; k < 12; k++) {
            size_t sec = out + 620 + 56 * k;
            for (int w = 0; w < 7; w++)
                f.f32(sec + 4 * w, 0.1f * (float)(w + k));
            f.u32(sec + 28, 0);
            for (int c = 0; c < 6; c++)
                f.f32(sec + 32 + 4 * c, 1.0f / 3.0f + (float)c);
        }
        f.i32(out + 1292, i & 1);
    }
    f.i32(18792, 10);
    f.i32(18796, 1);
    f.i32(18800, 2);
    f.i32(18804, 3);
    f.i32(18808 + 12, 254);
    f.i32(18824, 16);
    f.i32(18828, 5);
    f.text(18832, "Old%20Name");
    f.i32(19036, 1);
    f.i32(19040, 2);
    f.f32(19044, 303.15f);
    f.i32(19048, 77);
    f.i32(19052, 3);
    f.i32(19056, 1);
    for (int i = 0; i < 8; i++) {
        f.i32(19060 + 8 * i, 20 + i);
        f.i32(19064 + 8 * i, 1000 * (i + 1));
    }
    f.seal();
    return f;
}

}  // namespace

TEST(Converter102, ConvertsEveryField)
{
    File102 f = sample();
    ASSERT_EQ(system_converter_102(f.b.data(), 19132), SYS_FILE_BYTES);
    uint32_t hdr[2], crc;
    memcpy(hdr, f.b.data(), 8);
    memcpy(&crc, f.b.data() + SYS_FILE_CRC_OFFSET, 4);
    EXPECT_EQ(hdr[0], 54223u);
    EXPECT_EQ(hdr[1], 220u);
    EXPECT_EQ(crc, crc32(f.b.data(), SYS_FILE_CRC_OFFSET));
    sys_file r;
    memcpy(&r, f.b.data() + 8, sizeof r);

    EXPECT_EQ(r.project_id, 42);
    EXPECT_STREQ(r.project_label, "Old%20Show");
    EXPECT_STREQ(r.project_description, "described");
    EXPECT_EQ(r.modified, 1);
    EXPECT_EQ(r.project_lock, 1234);

    double c = (303.15 - 273.15) * 0.596 + 331.5;  // old temperature
    double ms_per_m = 1.0 / (c * 0.001);
    for (int i = 0; i < 8; i++) {
        const sys_bus &b = r.bus[i];
        EXPECT_FLOAT_EQ(b.gain, -1.5f - (float)i);
        EXPECT_EQ(b.phase, i & 1);
        EXPECT_FLOAT_EQ(b.delay_m, 3.4342f);
        EXPECT_NEAR(b.delay_ms, 3.4342 * ms_per_m, 1e-5);
        EXPECT_FLOAT_EQ(b.comp_thres, -20.0f);
        EXPECT_FLOAT_EQ(b.comp_ratio, 4.0f);
        EXPECT_FLOAT_EQ(b.comp_knee, 6.0f);
        EXPECT_FLOAT_EQ(b.peak_overshoot, 12.0f);
        EXPECT_FLOAT_EQ(b.comp_attack, 50.0f);
        EXPECT_FLOAT_EQ(b.comp_release, 80.0f);
        EXPECT_FLOAT_EQ(b.peak_release, 0.0f);
        EXPECT_EQ(b.eq_flags, 0x820);
        EXPECT_FLOAT_EQ(b.geq[30], 9.0f);
        EXPECT_FLOAT_EQ(b.peq[4].freq, 5000.0f);
        EXPECT_FLOAT_EQ(b.shelf[1].freq, 12000.0f);
        EXPECT_FLOAT_EQ(b.highpass.freq, 120.0f);
        EXPECT_EQ(b.highpass.kind, 2);
        EXPECT_STREQ(b.label, "Bus");
        EXPECT_EQ(b.mute, 1);
        EXPECT_EQ(b.patch, 5);
        EXPECT_EQ(b.group_local, 3);
        EXPECT_EQ(b.group_net, 6);
    }
    for (int i = 0; i < 8; i++) {
        const sys_output &o = r.out[i];
        EXPECT_FLOAT_EQ(o.gain, 2.0f);
        EXPECT_EQ(o.phase, 1);
        EXPECT_FLOAT_EQ(o.delay_m, 10.0f);
        EXPECT_NEAR(o.delay_ms, 3.4342 * ms_per_m, 1e-5);  // from the old offset 12
        EXPECT_EQ(o.eq_flags, 0x100);
        EXPECT_FLOAT_EQ(o.peq[3].gain, -4.0f);
        EXPECT_FLOAT_EQ(o.shelf[0].freq, 90.0f);
        EXPECT_FLOAT_EQ(o.highpass.freq, 300.0f);
        EXPECT_STREQ(o.label, "Out");
        EXPECT_EQ(o.bus_input, 7 - i);
        EXPECT_EQ(o.group_local, 2);
        EXPECT_EQ(o.group_net, 4);
        EXPECT_EQ(o.id_lsp, 17);
        EXPECT_EQ(o.group_lsp, i / 2);
        EXPECT_EQ(o.lsp.id, 17);
        EXPECT_EQ(o.lsp.ways, 2);
        EXPECT_STREQ(o.lsp.label, "Top%20Box");
        EXPECT_EQ(o.way.way_index, 1);
        EXPECT_FLOAT_EQ(o.way.gain, -2.5f);
        EXPECT_FLOAT_EQ(o.way.delay, 0.75f);
        for (int k = 0; k < 12; k++) {
            const filter_record &s = o.way.sections[k];
            for (int w = 0; w < 7; w++)
                EXPECT_EQ(s.coef_block[w], 0.1f * (float)(w + k));
            const double coef[6] = {s.a0, s.a1, s.a2, s.b0, s.b1, s.b2};
            for (int n = 0; n < 6; n++)
                EXPECT_EQ(coef[n], (double)(1.0f / 3.0f + (float)n));  // widened exactly
        }
        EXPECT_FLOAT_EQ(o.way.rms_time, 35.0f);
        EXPECT_FLOAT_EQ(o.way.attack, 10.0f);
        EXPECT_FLOAT_EQ(o.way.release, 60.0f);
        EXPECT_FLOAT_EQ(o.way.peak_release, 0.0f);
        EXPECT_EQ(o.mute, i & 1);
    }
    EXPECT_EQ(r.ip[0], 10);
    EXPECT_EQ(r.ip[3], 3);
    EXPECT_EQ(r.gateway[3], 254);
    EXPECT_EQ(r.netmask_bits, 16);
    EXPECT_EQ(r.net_flags, 5);
    EXPECT_STREQ(r.device_name, "Old%20Name");
    EXPECT_EQ(r.service_mode, 1);
    EXPECT_EQ(r.delay_unit, 2);
    EXPECT_FLOAT_EQ(r.temperature, 303.15f);
    EXPECT_EQ(r.key_lock, 77);
    EXPECT_EQ(r.digital_mode, 3);
    EXPECT_EQ(r.system_flags, 1);
    EXPECT_EQ(r.amp[5].gain, 25);
    EXPECT_EQ(r.amp[5].peak_voltage, 6000);
}

TEST(Converter102, RejectsShortDamagedAndForeignFiles)
{
    File102 f = sample();
    EXPECT_EQ(system_converter_102(f.b.data(), 19131), 0u);

    f.b[100] ^= 1;
    FdCapture cap;
    EXPECT_EQ(system_converter_102(f.b.data(), 19132), 0u);
    f = sample();
    f.u32(0, 1);
    EXPECT_EQ(system_converter_102(f.b.data(), 19132), 0u);
    f = sample();
    f.u32(4, 103);
    f.seal();
    EXPECT_EQ(system_converter_102(f.b.data(), 19132), 0u);
    EXPECT_EQ(strip_log_prefixes(cap.finish()),
              "system_converter_102: file crc error\n"
              "system_converter_102: file type error (wrong magic)\n"
              "system_converter_102: file version error\n");
}

TEST(Converter102, LoadedFromDiskWithServiceModeCleared)
{
    SimRoot root;
    root.activate();
    platform_init();
    File102 f = sample();
    write_file(root.path(SYS_FILE_CURRENT), std::string((const char *)f.b.data(), 19132));
    FdCapture cap;
    ASSERT_EQ(system_init(), 0);
    EXPECT_EQ(cap.finish(), "");
    EXPECT_EQ(my_sys->service_mode, 0);
    EXPECT_FLOAT_EQ(my_sys->bus[2].comp_attack, 50.0f);
    EXPECT_STREQ(my_sys->project_label, "Old%20Show");
}
