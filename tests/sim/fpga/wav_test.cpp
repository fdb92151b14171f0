// WAV files: what the model writes reads back, the integer and float
// layouts other programs write are read, and broken files are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/sim_root.h"
#include "wav.h"

namespace {

// A plain WAVEFORMATEX file around `data`.
std::string wav_bytes(int tag, int channels, int rate, int bits, const std::string &data, uint32_t data_size)
{
    auto u16 = [](int v) { return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF)}; };
    auto u32 = [](uint32_t v) {
        return std::string{(char)(v & 0xFF), (char)((v >> 8) & 0xFF), (char)((v >> 16) & 0xFF), (char)(v >> 24)};
    };
    int align = channels * bits / 8;
    std::string fmt = u16(tag) + u16(channels) + u32((uint32_t)rate) + u32((uint32_t)(rate * align)) + u16(align) +
                      u16(bits);
    std::string body = "WAVE" + std::string("LIST") + u32(3) + "abc" + std::string(1, '\0') + "fmt " +
                       u32((uint32_t)fmt.size()) + fmt + "data" + u32(data_size) + data;
    return "RIFF" + u32((uint32_t)body.size()) + body;
}

class Wav : public ::testing::Test {
protected:
    std::string file(const std::string &bytes)
    {
        std::string p = root_.path("/tmp/t.wav");
        write_file(p, bytes);
        return p;
    }
    SimRoot root_;
};

}  // namespace

TEST_F(Wav, WhatTheModelWritesReadsBack)
{
    std::string p = root_.path("/tmp/out.wav");
    std::string error;
    std::vector<float> frames(8 * 1000);
    for (size_t i = 0; i < frames.size(); i++)
        frames[i] = (float)i / 8000.0f - 0.5f;
    {
        wav_writer w;
        ASSERT_TRUE(wav_open_write(&w, p, 8, 96000, &error)) << error;
        ASSERT_TRUE(wav_write(&w, frames.data(), 600, &error));
        ASSERT_TRUE(wav_write(&w, frames.data() + 8 * 600, 400, &error));
        ASSERT_TRUE(wav_close_write(&w, &error)) << error;
    }
    wav_reader r;
    ASSERT_TRUE(wav_open_read(&r, p, &error)) << error;
    EXPECT_EQ(r.channels, 8);
    EXPECT_EQ(r.rate, 96000);
    EXPECT_EQ(r.format, WAV_FORMAT_FLOAT);
    EXPECT_EQ(r.frames, 1000u);
    std::vector<float> back(8 * 1000);
    EXPECT_EQ(wav_read(&r, back.data(), 1200), 1000);
    EXPECT_EQ(back, frames);
    EXPECT_EQ(wav_read(&r, back.data(), 10), 0);
    ASSERT_TRUE(wav_rewind(&r));
    EXPECT_EQ(wav_read(&r, back.data(), 3), 3);
    EXPECT_EQ(back[8], frames[8]);
}

TEST_F(Wav, IntegerAndFloatLayouts)
{
    std::string error;
    struct layout {
        int tag, bits;
        std::string data;  // two frames of one channel: +half scale, -full scale
    } layouts[] = {
        {1, 8, std::string{(char)0xC0, (char)0x00}},
        {1, 16, std::string{0x00, 0x40, 0x00, (char)0x80}},
        {1, 24, std::string{0x00, 0x00, 0x40, 0x00, 0x00, (char)0x80}},
        {1, 32, std::string{0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, (char)0x80}},
        {3, 64, std::string{0, 0, 0, 0, 0, 0, (char)0xE0, 0x3F, 0, 0, 0, 0, 0, 0, (char)0xF0, (char)0xBF}},
    };
    for (const layout &l : layouts) {
        wav_reader r;
        ASSERT_TRUE(wav_open_read(&r, file(wav_bytes(l.tag, 1, 96000, l.bits, l.data, (uint32_t)l.data.size())),
                                  &error))
            << l.bits << ": " << error;
        float v[2];
        ASSERT_EQ(wav_read(&r, v, 2), 2) << l.bits;
        EXPECT_EQ(v[0], 0.5f) << l.bits;
        EXPECT_EQ(v[1], -1.0f) << l.bits;
    }
    // A streamed file says 0xFFFFFFFF: the data runs to the end of the file.
    wav_reader r;
    std::string two = std::string{0x00, 0x40, 0x00, (char)0x80};
    ASSERT_TRUE(wav_open_read(&r, file(wav_bytes(1, 1, 96000, 16, two, 0xFFFFFFFFu)), &error));
    EXPECT_EQ(r.frames, 2u);
}

TEST_F(Wav, BrokenFilesAreRefusedWithTheirReason)
{
    std::string error;
    struct broken {
        std::string bytes, reason;
    } cases[] = {
        {"not a wave file at all", "not a WAV file"},
        {wav_bytes(2, 1, 96000, 16, "", 0), "format 2 is neither integer PCM nor float"},
        {wav_bytes(1, 1, 96000, 12, "", 0), "12-bit integer samples are not supported"},
        {wav_bytes(3, 0, 96000, 32, "", 0), "0 channels"},
        {wav_bytes(1, 2, 96000, 16, "", 0).substr(0, 40), "fmt chunk cut short"},
        {wav_bytes(1, 2, 96000, 16, "", 0).substr(0, 48), "no audio data"},
    };
    for (const broken &b : cases) {
        wav_reader r;
        EXPECT_FALSE(wav_open_read(&r, file(b.bytes), &error));
        EXPECT_NE(error.find(b.reason), std::string::npos) << error;
    }
    wav_reader r;
    EXPECT_FALSE(wav_open_read(&r, root_.path("/tmp/none.wav"), &error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}
