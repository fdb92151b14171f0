// The WLAN passphrase: kept percent-encoded in its file, made up as a
// pronounceable lower-case word when there is none, and checked so that the
// access point can always take it.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr const char *WLAN_PASSPHRASE_FILE = "/mnt/userdata/sys_wlan.current";
constexpr size_t WLAN_PASSPHRASE_FILE_MAX = 257;  // bytes read of the file

// What the access point accepts: 8 to 63 printable ASCII characters.
constexpr size_t WLAN_PASSPHRASE_MIN = 8;
constexpr size_t WLAN_PASSPHRASE_MAX = 63;

// A made-up passphrase has this many letters.
constexpr int WLAN_WORD_LETTERS = 10;

// Letter-trigram weights T[a][b][c] at (a x 26 + b) x 26 + c.
constexpr int WLAN_TRIGRAMS = 26 * 26 * 26;
constexpr int32_t WLAN_TRIGRAM_TOTAL = 1785501;
extern const std::array<uint16_t, WLAN_TRIGRAMS> wlan_trigram_table;

// The current passphrase, percent-encoded. A missing, empty or unusable
// file is replaced by a made-up passphrase, which is stored.
std::string wlan_passphrase();

// Stores the percent-encoded passphrase text (empty: a made-up one). A
// running access point reloads when the passphrase has changed. Returns 0,
// or -1 when the text is no usable passphrase or the file could not be
// written (a diagnostic line says which); nothing changes then. Caller holds
// the command lock.
int wlan_set_passphrase(const char *text);

// Whether a percent-encoded text is a passphrase the access point accepts.
bool wlan_passphrase_valid(std::string_view encoded);

// Draws a word from the trigram table with the 48-bit generator state
// (nrand48). Writes at most WLAN_WORD_LETTERS letters and a NUL into out.
void wlan_make_word(char out[WLAN_WORD_LETTERS + 1], unsigned short state[3]);
