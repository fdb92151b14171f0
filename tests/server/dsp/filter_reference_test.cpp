#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "dsp/filter.h"

// Bit patterns of coef_block and response terms from the second, plain
// implementation in filter_reference.py: they pin every single-precision
// step, which the device compares bit for bit.
namespace {

struct golden {
    const char *name;
    uint32_t coef[7];
    uint32_t resp[6];
};

const golden GOLDEN[] = {
    {"peq(1000,1,6)",
     {0xBE98463D, 0x3F746A78, 0xBD85F1E8, 0xBF7F73AF, 0x3CEEACBF, 0x3F6EA639, 0x3EE396A8},
     {0x3792F059, 0x38E01F3A, 0x4174066A, 0x3CC8FBFC, 0x41746A78, 0x3792F059}},
    {"peq(40,4,-9.5)",
     {0xBD42AFDB, 0x3F7FB5EE, 0xBB2AD550, 0xBF7FFFC7, 0x3A09F1FF, 0x3F7FCE8F, 0x3D01F26C},
     {0x2E4E5E45, 0x38635055, 0x417FB5F3, 0x385049B1, 0x417FB5EE, 0x2E4E5E45}},
    {"geq_band(1000,4.318477,6)",
     {0xBE103230, 0x3F7D72FB, 0xBD85F1E8, 0xBF7F73AF, 0x3C61BD79, 0x3F7C2FEF, 0x3E578186},
     {0x379849DE, 0x3D0472D1, 0x417D720E, 0x3D094B78, 0x417D72FB, 0x379849DE}},
    {"geq_band(16000,4.318477,-12)",
     {0xBF51AC86, 0x3F12E082, 0xBF5B9272, 0xBF039F01, 0x3EE3C31A, 0x3F366C46, 0x3E6EA965},
     {0x3F15AA14, 0x40947B4B, 0x41157E52, 0x4082C39E, 0x4112E082, 0x3F15AA14}},
    {"geq_band(25,4.318477,-0.5)",
     {0xBCA86474, 0x3F7FF227, 0xBAD44395, 0xBF7FFFEA, 0xB9512509, 0x3F7FF28A, 0x3CA3AFA1},
     {0x2CFC256D, 0x37B24C2F, 0x417FF227, 0x37B2226F, 0x417FF227, 0x2CFC256D}},
    {"peq_alpha(250,1.5,4,2)",
     {0xBE2AEF4C, 0x3F7C6877, 0xBC860B76, 0xBF7FF73A, 0x3B66448C, 0x3F7B5B97, 0x3E5CE324},
     {0x3397C57D, 0x390C85B5, 0x417C6397, 0x3AAD9684, 0x417C6877, 0x3397C57D}},
    {"peq_alpha(6000,9,-3,4)",
     {0xBF677A6A, 0x3EDAAAD7, 0xBEC3EF17, 0xBF6C835E, 0x3E974B73, 0x3F02C041, 0x3F36A0F9},
     {0x3C41571C, 0xBD1B5460, 0x40EF9FD6, 0xBF315D41, 0x40DAAAD7, 0x3C41571C}},
    {"peq_symmetric(3000,6,-8,4)",
     {0xBF748FB1, 0x3E975673, 0xBE47C5CF, 0xBF7B14BE, 0x3E0569A4, 0x3F01F01F, 0x3F27AD7B},
     {0x3A2274E6, 0xBE3E0857, 0x40CCC901, 0xBFED8B3F, 0x40975673, 0x3A2274E6}},
    {"peq_symmetric(90,2.5,11,1)",
     {0xBD8C6C68, 0x3F7F65C4, 0xBBC0FF56, 0xBF7FFEDD, 0x3A895E6C, 0x3F7EA145, 0x3E1FA8C0},
     {0x30A513F9, 0xB603A728, 0x417F64B7, 0x3985934C, 0x417F65C4, 0x30A513F9}},
    {"low_shelf(100,0.707,6,1)",
     {0xBDFE9E8C, 0x3F7E0389, 0xBBB44F93, 0xBF7FFF02, 0x3D378A51, 0x3F7D9B1E, 0x3E1953ED},
     {0x3179B251, 0xB413FC24, 0x417E0389, 0xB398365B, 0x417E0389, 0x307ACC30}},
    {"high_shelf(8000,1,-3,2)",
     {0xBF3216EA, 0x3F37E70A, 0xBEED581F, 0xBF62D517, 0x3ECD2337, 0x3F010AA9, 0x3ECF6C41},
     {0x3D1D016A, 0x3F401F5C, 0x40BF3F75, 0x3F83A461, 0x4137E70A, 0x3D1D016A}},
    {"high_shelf(2000,12,9,4)",
     {0xBF281DA1, 0x3F410FFB, 0xBE2CADC0, 0xBF7C5578, 0xBE1F1CBE, 0x40104414, 0x3FC29B2E},
     {0x3A256DBC, 0xBE3F66A1, 0x42C05EE5, 0xBD8627AE, 0x41410FFB, 0x3A256DBC}},
    {"low_shelf_slope(120,6,-10)",
     {0xBE53BE30, 0x3F7A7799, 0xBC2B94B5, 0xBF7FFC68, 0xBD056976, 0x3F7BAC53, 0x3E25C3DF},
     {0x30A1D2A7, 0xB9A76CCB, 0x417A7A6D, 0xBA845A20, 0x417A7799, 0x324A41E8}},
    {"high_shelf_slope(10000,6,7.5)",
     {0xBF7CF2F3, 0x3E1D9F37, 0xBF372CEF, 0xBF32D650, 0x3F68CA7A, 0x3F18FB00, 0x3FD82759},
     {0x3DF7C177, 0xC0542BCE, 0x41915F29, 0xBFA1045C, 0x401D9F37, 0x3DF7C177}},
    {"highpass2(35,1.307)",
     {0xBD724B97, 0x3F7F8D3D, 0xBB1617E3, 0xBF7FFFD4, 0xBD1E538A, 0x3F7FC688, 0x3CF30534},
     {0x00000000, 0x00000000, 0x417F8D1E, 0x37F8A4D3, 0x417F8D3D, 0x2DF1C9CF}},
    {"lowpass2(18000,0.541)",
     {0xBF7F3411, 0x3DA170D6, 0xBF6C835F, 0xBEC3EF15, 0x3EAAB949, 0x3E2A7D95, 0xBECE537A},
     {0x3EE3160F, 0x3F63160E, 0x3EE3160E, 0xBF0533BA, 0x3FA170D6, 0x3EE3160F}},
    {"highpass1(80)",
     {0xBF800000, 0x00000000, 0xBDD107A8, 0xBF7EA9C0, 0x3D51079E, 0x00000000, 0x3F7F54E0},
     {0x00000000, 0xC07EAA32, 0x00000000, 0xC07EA9C0, 0x00000000, 0x37E4C7B0}},
    {"lowpass1(5000)",
     {0xBF800000, 0x00000000, 0xBF328F04, 0xBF37726F, 0x3EB28F05, 0x00000000, 0xBE111B22},
     {0x3DA47F7F, 0x3DA47F7F, 0x00000000, 0xC037726F, 0x00000000, 0x3DA47F7F}},
    {"allpass2(700,2.5)",
     {0xBE423A66, 0x3F7B5A4F, 0xBD3B9866, 0xBF7FBB3B, 0xB6015C8D, 0x3F800000, 0x80000000},
     {0x36911CCD, 0x3C788146, 0x417B5A4F, 0x3C788146, 0x417B5A4F, 0x36911CCD}},
    {"allpass1(1200)",
     {0xBF800000, 0x00000000, 0xBEC34138, 0xBF6CA74E, 0xB394BC4C, 0x00000000, 0xBF800000},
     {0x3BBB248A, 0xC06CA74E, 0x80000000, 0xC06CA74E, 0x00000000, 0x3BBB248A}},
};

using run_fn = std::function<void(filter_section *)>;

const std::map<std::string, run_fn> &designs()
{
    static const std::map<std::string, run_fn> m = {
        {"peq(1000,1,6)", [](filter_section *s) { filter_peq(s, 1000, 1.0, 6.0); }},
        {"peq(40,4,-9.5)", [](filter_section *s) { filter_peq(s, 40, 4.0, -9.5); }},
        {"geq_band(1000,4.318477,6)", [](filter_section *s) { filter_geq_band(s, 1000, 4.318477, 6.0); }},
        {"geq_band(16000,4.318477,-12)", [](filter_section *s) { filter_geq_band(s, 16000, 4.318477, -12.0); }},
        {"geq_band(25,4.318477,-0.5)", [](filter_section *s) { filter_geq_band(s, 25, 4.318477, -0.5); }},
        {"peq_alpha(250,1.5,4,2)", [](filter_section *s) { filter_peq_alpha(s, 250, 1.5, 4.0, 2); }},
        {"peq_alpha(6000,9,-3,4)", [](filter_section *s) { filter_peq_alpha(s, 6000, 9.0, -3.0, 4); }},
        {"peq_symmetric(3000,6,-8,4)", [](filter_section *s) { filter_peq_symmetric(s, 3000, 6.0, -8.0, 4); }},
        {"peq_symmetric(90,2.5,11,1)", [](filter_section *s) { filter_peq_symmetric(s, 90, 2.5, 11.0, 1); }},
        {"low_shelf(100,0.707,6,1)", [](filter_section *s) { filter_low_shelf(s, 100, 0.707, 6.0, 1); }},
        {"high_shelf(8000,1,-3,2)", [](filter_section *s) { filter_high_shelf(s, 8000, 1.0, -3.0, 2); }},
        {"high_shelf(2000,12,9,4)", [](filter_section *s) { filter_high_shelf(s, 2000, 12.0, 9.0, 4); }},
        {"low_shelf_slope(120,6,-10)", [](filter_section *s) { filter_low_shelf_slope(s, 120, 6.0, -10.0); }},
        {"high_shelf_slope(10000,6,7.5)", [](filter_section *s) { filter_high_shelf_slope(s, 10000, 6.0, 7.5); }},
        {"highpass2(35,1.307)", [](filter_section *s) { filter_highpass2(s, 35, 1.307); }},
        {"lowpass2(18000,0.541)", [](filter_section *s) { filter_lowpass2(s, 18000, 0.541); }},
        {"highpass1(80)", [](filter_section *s) { filter_highpass1(s, 80); }},
        {"lowpass1(5000)", [](filter_section *s) { filter_lowpass1(s, 5000); }},
        {"allpass2(700,2.5)", [](filter_section *s) { filter_allpass2(s, 700, 2.5); }},
        {"allpass1(1200)", [](filter_section *s) { filter_allpass1(s, 1200); }},
    };
    return m;
}

}  // namespace

TEST(FilterReference, BitExactAgainstSecondImplementation)
{
    ASSERT_EQ(designs().size(), std::size(GOLDEN));
    for (const golden &g : GOLDEN) {
        auto it = designs().find(g.name);
        ASSERT_NE(it, designs().end()) << g.name;
        filter_section s;
        memset(&s, 0, sizeof s);
        filter_reset_with_response(&s);
        it->second(&s);
        uint32_t coef[7], resp[6];
        memcpy(coef, s.coef_block, sizeof coef);
        memcpy(resp, s.response, sizeof resp);
        for (int i = 0; i < 7; i++)
            EXPECT_EQ(coef[i], g.coef[i]) << g.name << " coef " << i;
        for (int i = 0; i < 6; i++)
            EXPECT_EQ(resp[i], g.resp[i]) << g.name << " response " << i;
    }
}
