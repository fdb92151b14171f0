// The FPGA window as another process sees it: a read-only shared mapping of
// a simulation root's DIR/dev/fpgabus, which the server maps for writing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class FpgaView {
public:
    static constexpr size_t SIZE = 61440;

    // Read-only; writable maps it for writing too (what the FPGA itself
    // writes: the level blocks).
    explicit FpgaView(const std::string &path, bool writable = false);
    ~FpgaView();
    FpgaView(const FpgaView &) = delete;
    FpgaView &operator=(const FpgaView &) = delete;

    bool ok() const { return base_ != nullptr; }
    // Little-endian words at a byte offset.
    float f32(uint32_t off) const { return get<float>(off); }
    uint16_t u16(uint32_t off) const { return get<uint16_t>(off); }
    uint8_t u8(uint32_t off) const { return base_[off]; }
    // Writes a little-endian float (writable views only).
    void set_f32(uint32_t off, float v) { memcpy(const_cast<uint8_t *>(base_) + off, &v, sizeof v); }

private:
    template <class T>
    T get(uint32_t off) const
    {
        T v;
        memcpy(&v, base_ + off, sizeof v);
        return v;
    }
    const uint8_t *base_ = nullptr;
};
