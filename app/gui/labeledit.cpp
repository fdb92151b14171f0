#include "gui/labeledit.h"

#include <algorithm>
#include <cstring>

#include "gui/chanmap.h"
#include "gui/screen.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, ROW_PX = 25, GAP_PX = 6, TITLE_W_PX = 110;
constexpr int WORDS_PER_ROW = 3;

labeledit_screen *screen_of(sgui_widget *w)
{
    while (w != nullptr && w->par != nullptr)
        w = w->par;
    return w != nullptr ? static_cast<labeledit_screen *>(w->data) : nullptr;
}

void pick(labeledit_screen *s, const std::string &text)
{
    std::string cut = labeledit_cut(text);
    sgui_textedit_set_text(s->edit, cut.c_str());
    if (s->send != nullptr)
        s->send(s->channel, cut.c_str());
}

void on_value(sgui_widget *x, int value, const char *text)
{
    labeledit_screen *s = screen_of(x);
    if (s == nullptr)
        return;
    if (x == s->edit) {
        if (value == 1)
            pick(s, sgui_textedit_get_text(s->edit));
        return;
    }
    for (int i = 0; i < s->word_count; i++)
        if (x == s->words[i])
            pick(s, labeledit_compose(sgui_textedit_get_text(s->edit), text));
}

void free_screen(sgui_widget *root)
{
    delete static_cast<labeledit_screen *>(root->data);
    root->data = nullptr;
}

// Bytes of the first n UTF-8 characters of text.
size_t utf8_prefix(const std::string &text, size_t n)
{
    size_t at = 0;
    for (size_t chars = 0; at < text.size() && chars < n; chars++) {
        at++;
        while (at < text.size() && ((unsigned char)text[at] & 0xC0) == 0x80)
            at++;
    }
    return at;
}

}  // namespace

std::string labeledit_cut(const std::string &text)
{
    return text.substr(0, utf8_prefix(text, LABELEDIT_MAX));
}

std::string labeledit_compose(const std::string &text, const char *word)
{
    if (word == nullptr || word[0] == '<')
        return strcmp(word != nullptr ? word : "", "<CLEAR>") == 0 ? "" : labeledit_cut(text);
    std::string t = text;
    if (!t.empty() && t.back() != ' ')
        t += ' ';
    return labeledit_cut(t + word);
}

labeledit_screen *labeledit_new(const char *const *words, size_t count, labeledit_send_fn send)
{
    auto *s = new labeledit_screen{};
    s->send = send;
    s->root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    s->root->data = s;
    s->root->free_data = free_screen;
    s->root->key = screen_back_key;
    sgui_widget *page = sgui_widget_container(s->root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_value;
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_set_font(sgui_widget_label(top, SGUI_HORIZONTAL, chanmap_w(TITLE_W_PX), chanmap_h(TITLE_PX), "LABEL", 1),
                  CHANMAP_SMALL_FONT);
    s->header = sgui_widget_label(top, SGUI_HORIZONTAL, chanmap_w(SGUI_SCREEN_W - TITLE_W_PX), chanmap_h(TITLE_PX),
                                  "", 1);
    sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(GAP_PX));
    s->edit = sgui_widget_textedit(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX), "", LABELEDIT_MAX, 0);
    sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(GAP_PX));
    s->word_count = (int)std::min(count, (size_t)LABELEDIT_MAX_WORDS);
    sgui_widget *line = nullptr;
    for (int i = 0; i < s->word_count; i++) {
        if (i % WORDS_PER_ROW == 0)
            line = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX));
        s->words[i] = sgui_widget_button(line, SGUI_HORIZONTAL, SGUI_UNITS / WORDS_PER_ROW, chanmap_h(ROW_PX),
                                         ("\x60" + std::string(words[i])).c_str());
        sgui_set_font(s->words[i], CHANMAP_SMALL_FONT);
    }
    sgui_widget *order[1 + LABELEDIT_MAX_WORDS] = {s->edit};
    std::copy(s->words, s->words + s->word_count, order + 1);
    sgui_focus_chain(order, 1 + (size_t)s->word_count);
    return s;
}

void labeledit_open(labeledit_screen *s, int channel, const char *name, const char *label)
{
    s->channel = channel;
    sgui_set_text(s->header, name);
    sgui_textedit_set_text(s->edit, labeledit_cut(label != nullptr ? label : "").c_str());
    if (screen_open(s->root))
        sgui_focus_set(s->edit);
}
