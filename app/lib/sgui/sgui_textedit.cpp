#include "sgui/sgui_textedit.h"

#include <algorithm>
#include <new>
#include <vector>

#include "common/utf8.h"
#include "platform.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr const char *valid_chars =
    " ABCDEFGHIJKLMNOPQRSTUVWXYZ\u00C4\u00DC\u00D6\u00C1\u00C0\u00C9\u00C8abcdefghijklmnopqrstuvwxyz"
    "\u00E4\u00FC\u00F6\u00DF\u00E1\u00E0\u00E9\u00E8%&()@<>!+_-#0123456789";
constexpr const char *valid_numbers = "00123456789";

using codepoints = std::vector<uint32_t>;

codepoints decode(const char *s)
{
    codepoints out;
    if (s == nullptr)
        return out;
    const auto *p = (const unsigned char *)s;
    size_t n = strlen(s);
    while (n > 0) {
        size_t used;
        out.push_back(utf8_read(p, n, &used));
        p += used;
        n -= used;
    }
    return out;
}

// Decoded once, shared by every text edit.
const codepoints &valid_list(bool numbers)
{
    static const codepoints all = decode(valid_chars), digits = decode(valid_numbers);
    return numbers ? digits : all;
}

struct textedit_data {
    codepoints text;
    std::string utf8;  // text as UTF-8, kept in step
    int maxlen;
    int cursor;
    int immediate;
    const codepoints *valid;
    bool changed_this_press;
};

textedit_data *data_of(sgui_widget *w)
{
    w = sgui_control(w);
    return w != nullptr && w->kind == SGUI_KIND_TEXTEDIT ? static_cast<textedit_data *>(w->data) : nullptr;
}

void sync_utf8(textedit_data *d)
{
    d->utf8.clear();
    char buf[4];
    for (uint32_t c : d->text)
        d->utf8.append(buf, utf8_write(c, buf));
}

bool valid_has(const textedit_data *d, uint32_t c)
{
    return std::find(d->valid->begin(), d->valid->end(), c) != d->valid->end();
}

void changed(sgui_widget *w, textedit_data *d)
{
    sync_utf8(d);
    sgui_invalidate(w);
    if (d->immediate > 0) {
        sgui_event_val(w, 1, d->utf8.c_str());
        d->changed_this_press = true;
    }
}

int textedit_key(sgui_widget *w, int keys, int steps)
{
    auto *d = static_cast<textedit_data *>(w->data);
    if (!w->enabled || d == nullptr)
        return keys;
    d->changed_this_press = false;
    int len = (int)d->text.size();
    if (d->cursor < 0)
        d->cursor = std::max(std::min(len, d->maxlen - 1), 0);
    if (keys & SGUI_KEY_PAGE_PREV) {
        if (d->cursor > 0)
            d->cursor--;
        sgui_invalidate(w);
    }
    if (keys & SGUI_KEY_PAGE_NEXT) {
        if (d->cursor < len - 1)
            d->cursor++;
        else if (d->cursor == len - 1 && len < d->maxlen && d->text.back() != ' ' && valid_has(d, ' ')) {
            d->text.push_back(' ');
            d->cursor = len;
            changed(w, d);
        }
        sgui_invalidate(w);
    }
    keys &= ~(SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT);
    if (steps != 0 && !d->valid->empty() && d->maxlen > 0) {
        if (d->cursor >= (int)d->text.size()) {
            d->cursor = (int)d->text.size();
            if (d->cursor >= d->maxlen)
                d->cursor = d->maxlen - 1;
            else
                d->text.push_back(valid_has(d, ' ') ? ' ' : d->valid->front());
        }
        uint32_t &c = d->text[(size_t)d->cursor];
        const codepoints &v = *d->valid;
        int at = 0;
        for (int i = (int)v.size() - 1; i >= 0; i--)
            if (v[(size_t)i] == c) {
                at = i;
                break;
            }
        int next = std::clamp(at + steps, 0, (int)v.size() - 1);
        if (v[(size_t)next] != c) {
            c = v[(size_t)next];
            changed(w, d);
        }
    }
    if (keys & SGUI_KEY_ENTER) {
        if (!d->changed_this_press)
            sgui_event_val(w, 1, d->utf8.c_str());
        keys &= ~SGUI_KEY_ENTER;
    }
    return keys;
}

void textedit_draw(sgui_widget *w)
{
    auto *d = static_cast<textedit_data *>(w->data);
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    sgui_fill(w->s.get(), nullptr, 48, 48, 48);
    const int font = 0;
    // Keep the cursor in view: shift the text left when it would leave it.
    int cx = 5, cw = font_width(font, " ");
    if (d->cursor >= 0) {
        std::string before;
        char buf[4];
        for (int i = 0; i < d->cursor && i < (int)d->text.size(); i++)
            before.append(buf, utf8_write(d->text[(size_t)i], buf));
        cx += font_width(font, before.c_str());
        if (d->cursor < (int)d->text.size())
            cw = std::max(font_width(font, std::string(buf, utf8_write(d->text[(size_t)d->cursor], buf)).c_str()), 4);
    }
    int shift = std::max(0, cx + cw + 5 - w->view.w);
    if (d->cursor >= 0 && w->focused) {
        SDL_Rect cur = {(Sint16)(cx - shift), (Sint16)(w->view.h - 4), (Uint16)cw, 2};
        sgui_fill(w->s.get(), &cur, 224, 255, 255);
    }
    if (w->focused) {
        SDL_Rect edge = {0, 0, 2, w->view.h};
        sgui_fill(w->s.get(), &edge, 146, 76, 10);
    }
    font_write(w->s.get(), font, w->enabled ? (w->focused ? 15 : 14) : 22, FONT_LEFT, 5 - shift, 0, d->utf8.c_str());
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void textedit_free(sgui_widget *w)
{
    delete static_cast<textedit_data *>(w->data);
    w->data = nullptr;
}

}  // namespace

sgui_widget *sgui_widget_textedit(sgui_widget *par, int flags, int w, int h, const char *text, int maxlen,
                                  int immediate)
{
    sgui_widget *x = widget_new(par, flags);
    if (x == nullptr)
        return nullptr;
    auto *d = new (std::nothrow) textedit_data{};
    if (d == nullptr) {
        platform_log("sgui_widget_textedit: self->par == NULL\n");
        sgui_widget_free(x);
        return nullptr;
    }
    x->data = d;
    x->kind = SGUI_KIND_TEXTEDIT;
    x->free_data = textedit_free;
    x->draw = textedit_draw;
    x->key = textedit_key;
    x->focusable = 1;
    x->keymask |= SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT | SGUI_KEY_ENTER;
    sgui_widget_set_size(x, w, h, SGUI_UNITS, SGUI_LABEL_H);
    d->maxlen = std::max(maxlen, 0);
    d->immediate = immediate;
    d->valid = &valid_list(false);
    sgui_textedit_set_text(x, text);
    return x;
}

void sgui_textedit_set_text(sgui_widget *w, const char *text)
{
    textedit_data *d = data_of(w);
    if (d == nullptr)
        return;
    d->text = decode(text);
    if ((int)d->text.size() > d->maxlen)
        d->text.resize((size_t)d->maxlen);
    d->cursor = std::max(std::min((int)d->text.size(), d->maxlen - 1), 0);
    sync_utf8(d);
    sgui_invalidate(sgui_control(w));
}

const char *sgui_textedit_get_text(sgui_widget *w)
{
    textedit_data *d = data_of(w);
    return d != nullptr ? d->utf8.c_str() : "";
}

void sgui_textedit_clear_cursor(sgui_widget *w)
{
    textedit_data *d = data_of(w);
    if (d == nullptr)
        return;
    d->cursor = -1;
    sgui_invalidate(sgui_control(w));
}

int sgui_textedit_cursor(sgui_widget *w)
{
    textedit_data *d = data_of(w);
    return d != nullptr ? d->cursor : -1;
}

void sgui_textedit_set_onlynumbers(sgui_widget *w)
{
    textedit_data *d = data_of(w);
    if (d == nullptr)
        return;
    d->valid = &valid_list(true);
    sgui_invalidate(sgui_control(w));
}
