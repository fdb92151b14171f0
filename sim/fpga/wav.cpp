#include "wav.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

static_assert(std::endian::native == std::endian::little, "WAV data is little-endian");

namespace {

constexpr uint16_t FORMAT_EXTENSIBLE = 0xFFFE;
constexpr int MAX_CHANNELS = 64;
// Header of the files wav_open_write makes: RIFF, fmt (extensible), fact, data.
constexpr long WRITE_HEADER_BYTES = 12 + 8 + 40 + 12 + 8;
constexpr uint64_t MAX_DATA_BYTES = 0xFFFFFFFFu - (WRITE_HEADER_BYTES - 8);

uint32_t le32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

uint16_t le16(const uint8_t *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

bool read_exact(FILE *f, void *buf, size_t n)
{
    return fread(buf, 1, n, f) == n;
}

// Skips n bytes, by reading where the input cannot seek.
bool skip(FILE *f, uint64_t n)
{
    if (fseek(f, (long)n, SEEK_CUR) == 0)
        return true;
    uint8_t buf[4096];
    while (n > 0) {
        size_t k = n < sizeof buf ? (size_t)n : sizeof buf;
        if (!read_exact(f, buf, k))
            return false;
        n -= k;
    }
    return true;
}

bool fail(std::string *error, const std::string &path, const std::string &why)
{
    *error = path + ": " + why;
    return false;
}

// The fmt chunk: format, channels, rate and sample size, all checked.
bool parse_fmt(wav_reader *r, const uint8_t *c, uint32_t size, const std::string &path, std::string *error)
{
    if (size < 16)
        return fail(error, path, "fmt chunk too short");
    int tag = le16(c);
    r->channels = le16(c + 2);
    r->rate = (int)le32(c + 4);
    int align = le16(c + 12);
    r->bits = le16(c + 14);
    if (tag == FORMAT_EXTENSIBLE) {
        if (size < 40)
            return fail(error, path, "extensible fmt chunk too short");
        tag = le16(c + 24);  // the first two bytes of the subformat GUID
    }
    if (tag != WAV_FORMAT_PCM && tag != WAV_FORMAT_FLOAT)
        return fail(error, path, "format " + std::to_string(tag) + " is neither integer PCM nor float");
    r->format = tag;
    if (r->channels < 1 || r->channels > MAX_CHANNELS)
        return fail(error, path, std::to_string(r->channels) + " channels");
    bool pcm_ok = tag == WAV_FORMAT_PCM && (r->bits == 8 || r->bits == 16 || r->bits == 24 || r->bits == 32);
    bool float_ok = tag == WAV_FORMAT_FLOAT && (r->bits == 32 || r->bits == 64);
    if (!pcm_ok && !float_ok)
        return fail(error, path, std::to_string(r->bits) + "-bit " + (tag == WAV_FORMAT_PCM ? "integer" : "float") +
                                     " samples are not supported");
    if (align != r->channels * r->bits / 8)
        return fail(error, path, "block size " + std::to_string(align) + " does not match the channels");
    return true;
}

float sample(const wav_reader *r, const uint8_t *p)
{
    if (r->format == WAV_FORMAT_FLOAT) {
        if (r->bits == 32) {
            float v;
            memcpy(&v, p, 4);
            return v;
        }
        double v;
        memcpy(&v, p, 8);
        return (float)v;
    }
    switch (r->bits) {
    case 8:
        return (float)((int)p[0] - 128) / 128.0f;
    case 16:
        return (float)(int16_t)le16(p) / 32768.0f;
    case 24:
        return (float)((int32_t)((uint32_t)p[0] << 8 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 24) >> 8) /
               8388608.0f;
    default:
        return (float)((double)(int32_t)le32(p) / 2147483648.0);
    }
}

void put16(uint8_t *&p, uint16_t v)
{
    memcpy(p, &v, 2);
    p += 2;
}

void put32(uint8_t *&p, uint32_t v)
{
    memcpy(p, &v, 4);
    p += 4;
}

void put_tag(uint8_t *&p, const char *tag)
{
    memcpy(p, tag, 4);
    p += 4;
}

}  // namespace

wav_reader::~wav_reader()
{
    if (f != nullptr && owned)
        fclose(f);
}

bool wav_open_read(wav_reader *r, const std::string &path, std::string *error)
{
    if (path == "-") {
        r->f = stdin;
        r->owned = false;
    } else {
        r->f = fopen(path.c_str(), "rb");
        if (r->f == nullptr)
            return fail(error, path, strerror(errno));
        r->owned = true;
    }
    uint8_t head[12];
    if (!read_exact(r->f, head, 12) || memcmp(head, "RIFF", 4) != 0 || memcmp(head + 8, "WAVE", 4) != 0)
        return fail(error, path, "not a WAV file");
    bool have_fmt = false;
    for (;;) {
        uint8_t ch[8];
        if (!read_exact(r->f, ch, 8))
            return fail(error, path, have_fmt ? "no audio data" : "no fmt chunk");
        uint32_t size = le32(ch + 4);
        if (memcmp(ch, "fmt ", 4) == 0) {
            if (size > 1024)
                return fail(error, path, "fmt chunk too long");
            uint8_t fmt[1024];
            if (!read_exact(r->f, fmt, size) || (size & 1 && !skip(r->f, 1)))
                return fail(error, path, "fmt chunk cut short");
            if (!parse_fmt(r, fmt, size, path, error))
                return false;
            have_fmt = true;
        } else if (memcmp(ch, "data", 4) == 0) {
            if (!have_fmt)
                return fail(error, path, "audio data before the fmt chunk");
            uint64_t frame_bytes = (uint64_t)r->channels * (uint64_t)r->bits / 8;
            r->data_start = ftell(r->f);
            long end = -1;
            if (r->data_start >= 0 && fseek(r->f, 0, SEEK_END) == 0) {
                end = ftell(r->f);
                fseek(r->f, r->data_start, SEEK_SET);
            }
            if (end >= 0) {
                // Streamed files carry 0 or 0xFFFFFFFF here: the data runs to the end.
                uint64_t avail = (uint64_t)(end - r->data_start);
                uint64_t bytes = size == 0 || size == 0xFFFFFFFFu || size > avail ? avail : size;
                r->sized = true;
                r->frames = r->left = bytes / frame_bytes;
            }
            return true;
        } else if (!skip(r->f, (uint64_t)size + (size & 1))) {
            return fail(error, path, have_fmt ? "no audio data" : "no fmt chunk");
        }
    }
}

long wav_read(wav_reader *r, float *frames, long n)
{
    if (r->sized && (uint64_t)n > r->left)
        n = (long)r->left;
    if (n <= 0)
        return 0;
    size_t frame_bytes = (size_t)r->channels * (size_t)r->bits / 8;
    std::vector<uint8_t> raw((size_t)n * frame_bytes);
    size_t got = fread(raw.data(), 1, raw.size(), r->f);
    if (got < raw.size() && ferror(r->f))
        return -1;
    long nf = (long)(got / frame_bytes);
    size_t step = (size_t)r->bits / 8;
    for (long i = 0; i < nf * r->channels; i++)
        frames[i] = sample(r, raw.data() + (size_t)i * step);
    if (r->sized)
        r->left -= (uint64_t)nf;
    return nf;
}

bool wav_rewind(wav_reader *r)
{
    if (!r->sized || fseek(r->f, r->data_start, SEEK_SET) != 0)
        return false;
    r->left = r->frames;
    return true;
}

wav_writer::~wav_writer()
{
    if (f != nullptr)
        fclose(f);
}

namespace {

// The header for `frames` frames (the placeholder 0 until the file is closed).
void write_header(uint8_t *h, int channels, int rate, uint64_t frames)
{
    uint32_t data = (uint32_t)(frames * (uint64_t)channels * 4);
    uint8_t *p = h;
    put_tag(p, "RIFF");
    put32(p, (uint32_t)(WRITE_HEADER_BYTES - 8) + data);
    put_tag(p, "WAVE");
    put_tag(p, "fmt ");
    put32(p, 40);
    put16(p, FORMAT_EXTENSIBLE);
    put16(p, (uint16_t)channels);
    put32(p, (uint32_t)rate);
    put32(p, (uint32_t)(rate * channels * 4));
    put16(p, (uint16_t)(channels * 4));
    put16(p, 32);
    put16(p, 22);               // extension size
    put16(p, 32);               // valid bits
    put32(p, 0);                // no speaker positions: outputs 1 to 8
    put16(p, WAV_FORMAT_FLOAT);  // subformat GUID 00000003-0000-0010-8000-00aa00389b71
    static constexpr uint8_t guid_rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    memcpy(p, guid_rest, sizeof guid_rest);
    p += sizeof guid_rest;
    put_tag(p, "fact");
    put32(p, 4);
    put32(p, (uint32_t)frames);
    put_tag(p, "data");
    put32(p, data);
}

}  // namespace

bool wav_open_write(wav_writer *w, const std::string &path, int channels, int rate, std::string *error)
{
    w->f = fopen(path.c_str(), "wb");
    if (w->f == nullptr)
        return fail(error, path, strerror(errno));
    w->path = path;
    w->channels = channels;
    w->rate = rate;
    w->frames = 0;
    uint8_t h[WRITE_HEADER_BYTES];
    write_header(h, channels, rate, 0);
    if (fwrite(h, 1, sizeof h, w->f) != sizeof h)
        return fail(error, path, strerror(errno));
    return true;
}

bool wav_write(wav_writer *w, const float *frames, long n, std::string *error)
{
    if ((w->frames + (uint64_t)n) * (uint64_t)w->channels * 4 > MAX_DATA_BYTES)
        return fail(error, w->path, "longer than a WAV file can hold (4 GiB)");
    size_t count = (size_t)n * (size_t)w->channels;
    if (fwrite(frames, sizeof(float), count, w->f) != count)
        return fail(error, w->path, strerror(errno));
    w->frames += (uint64_t)n;
    return true;
}

bool wav_close_write(wav_writer *w, std::string *error)
{
    uint8_t h[WRITE_HEADER_BYTES];
    write_header(h, w->channels, w->rate, w->frames);
    bool ok = fseek(w->f, 0, SEEK_SET) == 0 && fwrite(h, 1, sizeof h, w->f) == sizeof h;
    ok = fclose(w->f) == 0 && ok;
    w->f = nullptr;
    return ok || fail(error, w->path, strerror(errno));
}
