// SHA-1 (FIPS 180-1). Used only for the WebSocket handshake.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t SHA1_DIGEST_SIZE = 20;

void sha1(const void *data, size_t length, uint8_t digest[SHA1_DIGEST_SIZE]);
