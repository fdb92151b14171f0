#include <algorithm>
#include <set>
#include <sys/stat.h>

#include "command.h"
#include "report_source.h"
#include "server_state.h"
#include "wlan.h"

namespace {

int trigram(const char *t)
{
    return ((t[0] - 'a') * 26 + (t[1] - 'a')) * 26 + (t[2] - 'a');
}

bool lower_word(const std::string &s, size_t n)
{
    return s.size() == n && std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

TEST(WlanTrigrams, TableKeepsItsDesignedWeights)
{
    const auto &t = wlan_trigram_table;
    EXPECT_EQ(t[(size_t)trigram("ing")], 8931);
    EXPECT_EQ(t[(size_t)trigram("ion")], 9672);
    EXPECT_EQ(t[(size_t)trigram("the")], 3593);
    EXPECT_EQ(t[(size_t)trigram("qzx")], 0);
    int64_t total = 0;
    for (uint16_t w : t)
        total += w;
    EXPECT_EQ(total, WLAN_TRIGRAM_TOTAL);
    EXPECT_EQ(*std::max_element(t.begin(), t.end()), 10971);

    // Every trigram that can be drawn leads on: its last two letters start
    // a row with weight, so no word ends before its tenth letter.
    for (int i = 0; i < WLAN_TRIGRAMS; i++) {
        if (t[(size_t)i] == 0)
            continue;
        int row = (i % (26 * 26)) * 26;
        int sum = 0;
        for (int c = 0; c < 26; c++)
            sum += t[(size_t)(row + c)];
        EXPECT_GT(sum, 0) << i;
    }
}

TEST(WlanTrigrams, WordsFollowTheTable)
{
    unsigned short state[3] = {0x330E, 1, 0};
    std::set<std::string> seen;
    for (int n = 0; n < 500; n++) {
        char word[WLAN_WORD_LETTERS + 1];
        wlan_make_word(word, state);
        std::string w = word;
        ASSERT_TRUE(lower_word(w, 10)) << w;
        for (size_t i = 0; i + 3 <= w.size(); i++)
            EXPECT_GT(wlan_trigram_table[(size_t)trigram(w.c_str() + i)], 0) << w;
        seen.insert(w);
    }
    EXPECT_GT(seen.size(), 495u);  // a generator, not a constant

    // The same state gives the same word.
    unsigned short a[3] = {1, 2, 3}, b[3] = {1, 2, 3};
    char wa[WLAN_WORD_LETTERS + 1], wb[WLAN_WORD_LETTERS + 1];
    wlan_make_word(wa, a);
    wlan_make_word(wb, b);
    EXPECT_STREQ(wa, wb);
}

class Wlan : public ServerState {
protected:
    std::string file() const { return root_.path(WLAN_PASSPHRASE_FILE); }
    std::string stored() const { return read_file(file()); }
    // The passphrase line of the device block.
    std::string reported() const
    {
        return reply_of([](report_writer *w) {
            report_format_wlan_passphrase(w, 0, report_source_wlan_passphrase());
        });
    }
};

TEST_F(Wlan, MissingFileGetsAMadeUpPassphraseThatStays)
{
    ASSERT_FALSE(file_exists(file()));
    std::string first = wlan_passphrase();
    EXPECT_TRUE(lower_word(first, 10)) << first;
    EXPECT_EQ(stored(), first);
    EXPECT_EQ(wlan_passphrase(), first);
    EXPECT_EQ(reported(), "112,0," + first + "\n");
    // A secret: only the server may read it.
    struct stat st;
    ASSERT_EQ(stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);

    // An empty file counts as missing.
    write_file(file(), "");
    std::string second = wlan_passphrase();
    EXPECT_TRUE(lower_word(second, 10));
    EXPECT_EQ(stored(), second);
}

TEST_F(Wlan, CommandStoresTheGivenPassphraseOrMakesANewOne)
{
    std::string before = wlan_passphrase();
    report_pending_clear();
    EXPECT_EQ(errors_of([] { command_work("112,3,", 0); }), "");
    std::string made = stored();
    EXPECT_TRUE(lower_word(made, 10)) << made;
    EXPECT_NE(made, before);
    EXPECT_EQ(report_pending.device[112], 1);
    EXPECT_EQ(report_pending.requester[112], 3);

    // Given text is kept, spelt in the one canonical encoding.
    EXPECT_EQ(errors_of([] { command_work("112,4,%4Baffee%20au%20lait%2a", 0); }), "");
    EXPECT_EQ(stored(), "Kaffee%20au%20lait%2A");
    EXPECT_EQ(reported(), "112,0,Kaffee%20au%20lait%2A\n");

    // ... and kept across a restart of the server.
    FdCapture cap;
    ASSERT_EQ(system_init(), 0);
    cap.finish();
    EXPECT_EQ(wlan_passphrase(), "Kaffee%20au%20lait%2A");
}

TEST_F(Wlan, PassphrasesTheAccessPointWouldRefuseAreRefusedHere)
{
    command_work("112,4,longenough", 0);
    report_pending_clear();
    const std::string refused = "system_sys_wlan_passphrase: passphrase needs 8 to 63 printable characters\n";
    const std::vector<std::string> bad_ones = {"short",          "%20%20%20%20%20%207",     std::string(64, 'x'),
                                               "new%0Aline%0Ainside", "tab%09in%09the%09middle", "%u00e9%u00e9%u00e9%u00e9",
                                               "abcdefg%zz"};
    for (const std::string &bad : bad_ones) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(errors_of([&] { command_work(("112,4," + bad).c_str(), 0); }), refused);
        EXPECT_EQ(stored(), "longenough");
        EXPECT_FALSE(report_pending.device[112]);
        std::string msg = reply_of([](report_writer *w) { EXPECT_TRUE(report_message_take(4, w)); });
        EXPECT_EQ(msg, "25,4,1,WLAN%20password%20needs%0A8%20to%2063%20characters.\n");
    }
    EXPECT_EQ(errors_of([] { command_work(("112,4," + std::string(63, 'x')).c_str(), 0); }), "");
    EXPECT_EQ(stored(), std::string(63, 'x'));
}

TEST_F(Wlan, AnUnusableFileIsReplaced)
{
    write_file(file(), "tiny\n");
    std::string made;
    EXPECT_EQ(errors_of([&] { made = wlan_passphrase(); }),
              "wlan_passphrase: stored passphrase unusable, making a new one\n");
    EXPECT_TRUE(lower_word(made, 10));
    EXPECT_EQ(stored(), made);

    // A line end after a good passphrase is no part of it.
    write_file(file(), "goodpassphrase\r\n");
    EXPECT_EQ(wlan_passphrase(), "goodpassphrase");
}

TEST_F(Wlan, AFileThatCannotBeWrittenChangesNothing)
{
    command_work("112,2,keepthisone", 0);
    // The folder becomes a file: nothing can be written beside it.
    std::string dir = root_.path("/mnt/userdata");
    ASSERT_EQ(system(("rm -rf '" + dir + "' && touch '" + dir + "'").c_str()), 0);
    report_pending_clear();
    std::string err = errors_of([] { command_work("112,2,another%20one", 0); });
    EXPECT_NE(err.find("wlan_set_passphrase: cannot write"), std::string::npos) << err;
    EXPECT_FALSE(report_pending.device[112]);
    std::string msg = reply_of([](report_writer *w) { EXPECT_TRUE(report_message_take(2, w)); });
    EXPECT_EQ(msg, "25,2,1,WLAN%20password%0Anot%20stored.\n");

    // Made up but not storable: every reader still gets the same one.
    std::string a, b;
    errors_of([&] { a = wlan_passphrase(); });
    errors_of([&] { b = wlan_passphrase(); });
    EXPECT_TRUE(lower_word(a, 10));
    EXPECT_EQ(a, b);
    // Once the file can be written again, that one is stored.
    ASSERT_EQ(system(("rm -f '" + dir + "' && mkdir '" + dir + "'").c_str()), 0);
    EXPECT_EQ(wlan_passphrase(), a);
    EXPECT_EQ(stored(), a);
}

}  // namespace
