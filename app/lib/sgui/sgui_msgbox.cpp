#include "sgui/sgui_msgbox.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int BOX_W = 28906;
constexpr int ROW_H = SGUI_LABEL_H;
constexpr int BUTTON_KEYMASK = 0x42C;

struct popup_state {
    sgui_widget *root;       // the box's screen
    sgui_widget *previous;   // the screen shown before
    sgui_widget *entry;      // code entry of a message box
    sgui_msgbox_fn callback;
    void *user;
    int saved_lock;
};

popup_state msgbox, infobox;

std::vector<std::string> split_lines(const char *text)
{
    std::vector<std::string> lines;
    std::string t = text != nullptr ? text : "";
    size_t start = 0;
    while (true) {
        size_t nl = t.find('\n', start);
        lines.push_back(t.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return lines;
}

// A copy of the screen, darkened, as the box's background.
SDL_Surface *darkened_screen(sgui_widget *)
{
    SDL_Surface *s = SDL_CreateRGBSurface(SDL_SWSURFACE, SGUI_SCREEN_W, SGUI_SCREEN_H, 24, 0xFF0000, 0x00FF00,
                                          0x0000FF, 0);
    if (s == nullptr)
        return nullptr;
    SDL_FillRect(s, nullptr, 0);
    if (SDL_Surface *screen = sgui_screen())
        SDL_BlitSurface(screen, nullptr, s, nullptr);
    sdl_surface_ptr shade(
        SDL_CreateRGBSurface(SDL_SWSURFACE, SGUI_SCREEN_W, SGUI_SCREEN_H, 24, 0xFF0000, 0x00FF00, 0x0000FF, 0));
    if (shade) {
        SDL_FillRect(shade.get(), nullptr, 0);
        SDL_SetAlpha(shade.get(), SDL_SRCALPHA, 160);
        SDL_BlitSurface(shade.get(), nullptr, s, nullptr);
    }
    return s;
}

// The screen with the centred box; lines + extra rows high.
sgui_widget *build_box(popup_state &st, const std::vector<std::string> &lines, int extra_rows, sgui_widget **box_out)
{
    sgui_widget *root = widget_new(nullptr, SGUI_CENTRE_H | SGUI_CENTRE_V);
    if (root == nullptr)
        return nullptr;
    sgui_widget_set_size(root, SGUI_UNITS, SGUI_UNITS, SGUI_UNITS, SGUI_UNITS);
    root->draw = draw_container;
    root->make_surface = darkened_screen;
    root->flags |= SGUI_NOSCROLL;
    int h = std::min((int)lines.size() * ROW_H + extra_rows * ROW_H, SGUI_UNITS);
    sgui_widget *box = sgui_widget_container(root, SGUI_VERTICAL | SGUI_HORIZONTAL, BOX_W, h);
    if (box == nullptr) {
        sgui_widget_free(root);
        return nullptr;
    }
    box->colour[0] = box->colour[1] = box->colour[2] = 48;
    sgui_widget_container(box, SGUI_VERTICAL, BOX_W, ROW_H / 2);
    for (const std::string &line : lines) {
        int width, maxlen, only;
        char initial[64] = "";
        if (line.rfind("$E,", 0) == 0 && sscanf(line.c_str(), "$E,%d,%d,%d,%63s", &width, &maxlen, &only, initial) >= 3) {
            sgui_widget *row = sgui_widget_container(box, SGUI_VERTICAL | SGUI_CENTRE_H, BOX_W, ROW_H);
            width = std::clamp(width, 1, BOX_W / 149);
            st.entry = sgui_widget_textedit(row, SGUI_HORIZONTAL, width * 149, ROW_H, initial,
                                            std::clamp(maxlen, 1, 63), 0);
            if (st.entry != nullptr && only != 0)
                sgui_textedit_set_onlynumbers(st.entry);
        } else {
            sgui_widget_label(box, SGUI_VERTICAL, BOX_W, ROW_H, ("\x60" + line).c_str(), 0);
        }
    }
    sgui_widget_container(box, SGUI_VERTICAL, BOX_W, ROW_H / 2);
    *box_out = box;
    return root;
}

// Brings the screen shown before back (at once, even during a slide).
void reopen(sgui_widget *prev)
{
    if (prev == nullptr || !sgui_widget_alive(prev))
        return;
    sgui_set_root(nullptr);
    if (sgui_popup(prev, 0) == 0) {
        sgui_set_root(prev);
        sgui_invalidate_tree(prev);
        sgui_invalidate_all(prev);
    }
}

void close_popup(popup_state &st)
{
    sgui_widget *root = st.root, *prev = st.previous;
    st.root = nullptr;
    st.previous = nullptr;
    st.entry = nullptr;
    if (sgui_root() == root)
        reopen(prev);
    if (root != nullptr && sgui_widget_alive(root))
        sgui_widget_free(root);
}

void answer(int value)
{
    if (msgbox.root == nullptr)
        return;
    sgui_set_keylock(msgbox.saved_lock);
    sgui_msgbox_fn cb = msgbox.callback;
    void *user = msgbox.user;
    sgui_widget *root = msgbox.root, *prev = msgbox.previous;
    msgbox.root = nullptr;
    if (sgui_root() == root)
        reopen(prev);
    // The callback may still read the code entry; the box goes afterwards.
    if (cb != nullptr)
        cb(value, user);
    msgbox.previous = nullptr;
    msgbox.entry = nullptr;
    if (sgui_widget_alive(root))
        sgui_widget_free(root);
}

int button_key(sgui_widget *w, int keys, int steps)
{
    if (msgbox.saved_lock && (keys != 0 || steps != 0)) {
        answer(0);
        return 0;
    }
    if (keys & SGUI_KEY_ENTER) {
        answer(w->user);
        return 0;
    }
    if (keys & SGUI_KEY_BACK) {
        answer(0);
        return 0;
    }
    if (keys & (SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT)) {
        sgui_focus_move((keys & SGUI_KEY_PAGE_PREV) ? -1 : 1);
        return keys & ~(SGUI_KEY_PAGE_PREV | SGUI_KEY_PAGE_NEXT);
    }
    return keys;
}

// What the focused control leaves: back (and any key after a lock) answers 0.
int root_key(sgui_widget *, int keys, int steps)
{
    if ((keys & (SGUI_KEY_BACK | SGUI_KEY_LOCKED)) || (msgbox.saved_lock && (keys != 0 || steps != 0))) {
        answer(0);
        return 0;
    }
    return keys;
}

// Enter in the code entry.
void entry_value(sgui_widget *w, int value, const char *)
{
    if (w == msgbox.entry && value == 1)
        answer(1);
}

}  // namespace

int sgui_message_box(int type, const char *text, sgui_msgbox_fn callback, void *user)
{
    sgui_lock();
    if (msgbox.root != nullptr) {
        sgui_unlock();
        return -1;
    }
    struct button {
        const char *text;
        int width, value;
    };
    static constexpr button ok = {"\x60OK", 7450, 1}, yes = {"\x60YES", 6258, 1}, no = {"\x60NO", 5066, -1},
                            cancel = {"\x60" "CANCEL", 11920, 0};
    std::vector<button> buttons;
    if (type == SGUI_MSGBOX_YESNOCANCEL)
        buttons = {yes, no, cancel};
    else if (type == SGUI_MSGBOX_OKCANCEL)
        buttons = {ok, cancel};
    else
        buttons = {ok};
    msgbox = {};
    sgui_widget *box = nullptr;
    sgui_widget *root = build_box(msgbox, split_lines(text), 4, &box);
    if (root == nullptr) {
        sgui_unlock();
        return -1;
    }
    root->key = root_key;
    root->keymask = SGUI_KEY_BACK | SGUI_KEY_LOCKED;
    root->event_val = entry_value;
    sgui_widget *row = sgui_widget_container(box, SGUI_VERTICAL | SGUI_CENTRE_H, BOX_W, ROW_H);
    sgui_widget *first = nullptr;
    for (const button &b : buttons) {
        sgui_widget *bw = sgui_widget_button(row, SGUI_HORIZONTAL, b.width, ROW_H, b.text);
        if (bw == nullptr)
            continue;
        bw->keymask = BUTTON_KEYMASK | SGUI_KEY_ENTER;
        bw->key = button_key;
        bw->user = b.value;
        if (first == nullptr)
            first = bw;
    }
    sgui_widget_container(box, SGUI_VERTICAL, BOX_W, ROW_H / 2);
    if (msgbox.entry != nullptr && first != nullptr) {
        msgbox.entry->focus_next = first;
        first->focus_prev = msgbox.entry;
    }
    msgbox.root = root;
    msgbox.previous = sgui_root() != root ? sgui_root() : nullptr;
    msgbox.callback = callback;
    msgbox.user = user;
    msgbox.saved_lock = sgui_keylock();
    sgui_set_keylock(0);
    if (sgui_popup(root, 0) == 0) {
        platform_log("sgui_message_box: screen busy, box not shown\n");
        sgui_set_keylock(msgbox.saved_lock);
        msgbox = {};
        sgui_widget_free(root);
        sgui_unlock();
        return -1;
    }
    // Opened while the keys were locked: the first key of any kind answers.
    if (msgbox.saved_lock)
        sgui_set_keycapture(root);
    sgui_unlock();
    return 0;
}

int sgui_message_box_open()
{
    return msgbox.root != nullptr;
}

const char *sgui_message_box_entry()
{
    return msgbox.entry != nullptr ? sgui_textedit_get_text(msgbox.entry) : "";
}

void sgui_info_box(int persistent, const char *text)
{
    (void)persistent;  // the transient form is sgui_notice
    sgui_lock();
    if (infobox.root != nullptr)
        close_popup(infobox);
    if (text != nullptr && text[0] != 0) {
        sgui_widget *box = nullptr;
        popup_state st = {};
        sgui_widget *root = build_box(st, split_lines(text), 1, &box);
        if (root != nullptr) {
            st.root = root;
            st.previous = sgui_root() != root ? sgui_root() : nullptr;
            if (sgui_popup(root, 0) != 0)
                infobox = st;
            else
                sgui_widget_free(root);
        }
    }
    sgui_unlock();
}

int sgui_info_box_open()
{
    return infobox.root != nullptr;
}

void sgui_notice(const char *text)
{
    sgui_lock();
    sgui_info_box(0, text);
    sgui_redraw(1);
    SDL_Delay(350);
    sgui_info_box(0, nullptr);
    sgui_unlock();
}
