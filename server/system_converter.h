// Conversion of state files of the older firmware generation (version 102).
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t SYS_FILE_102_BYTES = 19132;

// Converts the version-102 file in buf (len bytes read; the buffer holds
// SYS_FILE_BYTES) in place into a version-220 file. Returns 23104, or 0
// after a diagnostic line when the file is short, damaged or foreign.
size_t system_converter_102(uint8_t *buf, size_t len);
