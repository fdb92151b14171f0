// Checksums: CRC-32 of the state file, CRC-8 of the serial link.
#pragma once
#include <cstddef>
#include <cstdint>

// IEEE 802.3 / zlib CRC-32; 0 for an empty buffer.
uint32_t crc32(const void *data, size_t length);

// Reflected CRC-8 of polynomial 0x4D (0xB2 reflected), register starting at
// 0xFF and complemented at the end; 0xFF for an empty buffer.
uint8_t crc8(const void *data, size_t length);
