// The "LABEL" sub-screen of the properties screens: the channel's label in
// a text edit over a list of words. Picking a word that does not begin
// with "<" appends it to the text (with a space between when the text does
// not end in one), "<CLEAR>" empties it; the result is cut to 11
// characters, shown and sent. Enter in the text edit sends what it holds.
#pragma once
#include <cstddef>
#include <string>

#include "sgui/sgui.h"

constexpr int LABELEDIT_MAX = 11;
constexpr int LABELEDIT_MAX_WORDS = 16;

// Sends a label for a channel (the screen's own command).
using labeledit_send_fn = void (*)(int channel, const char *label);

struct labeledit_screen {
    sgui_widget *root, *header, *edit;
    sgui_widget *words[LABELEDIT_MAX_WORDS];
    int word_count;
    int channel;
    labeledit_send_fn send;
};

// Builds the screen with its word list (at most LABELEDIT_MAX_WORDS).
labeledit_screen *labeledit_new(const char *const *words, size_t count, labeledit_send_fn send);
// Shows the channel's label and opens the screen over the current one.
void labeledit_open(labeledit_screen *s, int channel, const char *name, const char *label);
// The text after a word is picked: appended, or emptied by "<CLEAR>",
// cut to LABELEDIT_MAX characters (UTF-8 characters, not bytes).
std::string labeledit_compose(const std::string &text, const char *word);
// Cuts a label to LABELEDIT_MAX characters.
std::string labeledit_cut(const std::string &text);
