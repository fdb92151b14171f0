#include "wlan.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/random.h>
#include <sys/time.h>
#include <unistd.h>

#include "common/db_text.h"
#include "log.h"
#include "netconf.h"
#include "platform.h"

namespace {

struct wlan_trigram {
    char letters[4];
    uint16_t weight;
};

#include "wlan_trigrams.inc"

constexpr int trigram_index(const char *t)
{
    return ((t[0] - 'a') * 26 + (t[1] - 'a')) * 26 + (t[2] - 'a');
}

constexpr std::array<uint16_t, WLAN_TRIGRAMS> build_table()
{
    std::array<uint16_t, WLAN_TRIGRAMS> t{};
    for (const wlan_trigram &e : wlan_trigram_weights)
        t[(size_t)trigram_index(e.letters)] = e.weight;
    return t;
}

constexpr int32_t table_total(const std::array<uint16_t, WLAN_TRIGRAMS> &t)
{
    int32_t sum = 0;
    for (uint16_t w : t)
        sum += w;
    return sum;
}

}  // namespace

constexpr std::array<uint16_t, WLAN_TRIGRAMS> wlan_trigram_table = build_table();
static_assert(table_total(wlan_trigram_table) == WLAN_TRIGRAM_TOTAL);

namespace {

// The file is read by the report passes and by the network manager.
std::mutex g_mutex;
// A made-up passphrase the file would not take: kept, so that every reader
// gets the same one until it can be stored.
std::string g_unsaved;

// Index of the entry where the running sum of weights first exceeds a
// number drawn below total.
int draw(const uint16_t *weights, int n, int32_t total, unsigned short state[3])
{
    int32_t r = (int32_t)(nrand48(state) % total);
    int32_t sum = 0;
    for (int i = 0; i < n; i++) {
        sum += weights[i];
        if (sum > r)
            return i;
    }
    return n - 1;
}

// The generator's state from the kernel's random source: a passphrase must
// not be guessable from the moment it was made. The time of day is the
// fallback of a kernel without getrandom.
void seed(unsigned short state[3])
{
    if (getrandom(state, 3 * sizeof state[0], 0) == (ssize_t)(3 * sizeof state[0]))
        return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    state[0] = 0x330E;
    state[1] = (unsigned short)tv.tv_usec;
    state[2] = (unsigned short)(tv.tv_usec >> 16);
}

std::string make_passphrase()
{
    unsigned short state[3];
    seed(state);
    char word[WLAN_WORD_LETTERS + 1];
    wlan_make_word(word, state);
    return db_text_encode(word);
}

// The file's text up to its first line end.
std::string read_stored()
{
    int fd = open(platform_path(WLAN_PASSPHRASE_FILE).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buf[WLAN_PASSPHRASE_FILE_MAX + 1];
    size_t got = platform_read_fd(fd, buf, WLAN_PASSPHRASE_FILE_MAX);
    close(fd);
    buf[got] = 0;
    return std::string(buf, strcspn(buf, "\r\n"));
}

// Written beside the file and renamed over it, so a power failure leaves
// the old passphrase or the new one, never half of one.
bool store(const std::string &encoded)
{
    std::string path = platform_path(WLAN_PASSPHRASE_FILE);
    std::string tmp = path + ".new";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && platform_write_fd(fd, encoded.data(), encoded.size()) == encoded.size() && fsync(fd) == 0;
    int err = errno;
    if (fd >= 0 && close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && rename(tmp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        log_error("wlan_set_passphrase: cannot write %s: %s\n", path.c_str(), strerror(err));
        unlink(tmp.c_str());
    }
    return ok;
}

// One spelling per passphrase, whatever the client escaped.
std::string canonical(std::string_view encoded)
{
    return db_text_encode(db_text_decode(encoded));
}

}  // namespace

void wlan_make_word(char out[WLAN_WORD_LETTERS + 1], unsigned short state[3])
{
    const uint16_t *t = wlan_trigram_table.data();
    int first = draw(t, WLAN_TRIGRAMS, WLAN_TRIGRAM_TOTAL, state);
    out[0] = (char)('a' + first / (26 * 26));
    out[1] = (char)('a' + first / 26 % 26);
    out[2] = (char)('a' + first % 26);
    int len = 3;
    while (len < WLAN_WORD_LETTERS) {
        const uint16_t *row = t + ((out[len - 2] - 'a') * 26 + (out[len - 1] - 'a')) * 26;
        int32_t sum = 0;
        for (int c = 0; c < 26; c++)
            sum += row[c];
        if (sum == 0)
            break;
        out[len++] = (char)('a' + draw(row, 26, sum, state));
    }
    out[len] = 0;
}

bool wlan_passphrase_valid(std::string_view encoded)
{
    if (encoded.empty() || encoded.size() > WLAN_PASSPHRASE_FILE_MAX)
        return false;
    std::string plain = db_text_decode(encoded);
    if (plain.size() < WLAN_PASSPHRASE_MIN || plain.size() > WLAN_PASSPHRASE_MAX)
        return false;
    for (unsigned char c : plain)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

std::string wlan_passphrase()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string stored = read_stored();
    if (wlan_passphrase_valid(stored))
        return canonical(stored);
    if (!stored.empty())
        log_error("wlan_passphrase: stored passphrase unusable, making a new one\n");
    std::string made = g_unsaved.empty() ? make_passphrase() : g_unsaved;
    g_unsaved = store(made) ? std::string() : made;
    return made;
}

int wlan_set_passphrase(const char *text)
{
    if (text == nullptr) {
        log_error("wlan_set_passphrase: text==NULL\n");
        return -1;
    }
    std::string encoded;
    if (text[0] == 0) {
        encoded = make_passphrase();
    } else if (wlan_passphrase_valid(text)) {
        encoded = canonical(text);
    } else {
        log_error("wlan_set_passphrase: passphrase needs 8 to 63 printable ASCII characters\n");
        return -1;
    }
    bool changed;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::string stored = read_stored();
        changed = !wlan_passphrase_valid(stored) || canonical(stored) != encoded;
        if (!store(encoded))
            return -1;
        g_unsaved.clear();
    }
    // Outside the file's lock: the reload reads the passphrase again.
    if (changed)
        netconf_ap_reload();
    return 0;
}
