// WAV files for the model's audio: a reader of integer PCM (8, 16, 24 and
// 32 bits) and IEEE float (32 and 64 bits), plain or in the extensible
// format, and a writer of 32-bit float files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

constexpr int WAV_FORMAT_PCM = 1;
constexpr int WAV_FORMAT_FLOAT = 3;

struct wav_reader {
    FILE *f = nullptr;
    bool owned = false;  // false for standard input
    int channels = 0;
    int rate = 0;
    int format = 0;      // WAV_FORMAT_PCM or WAV_FORMAT_FLOAT
    int bits = 0;
    long data_start = 0;
    bool sized = false;  // the data length is known (a file, not a stream)
    uint64_t frames = 0;  // frames of the data chunk when sized
    uint64_t left = 0;    // frames still to read when sized

    wav_reader() = default;
    wav_reader(const wav_reader &) = delete;
    wav_reader &operator=(const wav_reader &) = delete;
    ~wav_reader();
};

// Opens path ("-" is standard input) and reads the header up to the audio
// data. False with a one-line reason in *error.
bool wav_open_read(wav_reader *r, const std::string &path, std::string *error);
// Reads up to n frames, channel-interleaved, as floats in -1..1. Returns the
// frames read: 0 at the end, -1 on a read error.
long wav_read(wav_reader *r, float *frames, long n);
// Back to the first frame (files only); false when the input cannot seek.
bool wav_rewind(wav_reader *r);

struct wav_writer {
    FILE *f = nullptr;
    std::string path;
    int channels = 0;
    int rate = 0;
    uint64_t frames = 0;

    wav_writer() = default;
    wav_writer(const wav_writer &) = delete;
    wav_writer &operator=(const wav_writer &) = delete;
    ~wav_writer();
};

// Creates a 32-bit float file; the sizes in its header are filled in by
// wav_close_write.
bool wav_open_write(wav_writer *w, const std::string &path, int channels, int rate, std::string *error);
bool wav_write(wav_writer *w, const float *frames, long n, std::string *error);
bool wav_close_write(wav_writer *w, std::string *error);
