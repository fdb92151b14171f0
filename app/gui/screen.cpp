#include "gui/screen.h"

#include <string>
#include <vector>

#include "gui/chanmap.h"
#include "gui/mainmenu.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_widget.h"

namespace {

struct covered {
    sgui_widget *root;
    sgui_widget *focus;  // where the focus was when it was covered
};

std::vector<covered> below;         // the screens under the current one, oldest first
std::vector<sgui_widget *> closed;  // left by going back; still sliding out, maybe
sgui_widget *top;

// A closed screen gives its surfaces back once it is off the display; they
// are made again when it is opened next time.
void release_closed()
{
    std::erase_if(closed, [](sgui_widget *w) {
        if (!sgui_widget_alive(w))
            return true;
        if (w == sgui_root() || w == sgui_background())
            return false;
        sgui_release_surfaces(w);
        return true;
    });
}

sgui_widget *root_of(sgui_widget *w)
{
    while (w->par != nullptr)
        w = w->par;
    return w;
}

}  // namespace

int screen_open(sgui_widget *root)
{
    if (root == nullptr)
        return 0;
    sgui_lock();
    release_closed();
    sgui_widget *cur = sgui_root();
    sgui_widget *focus = sgui_focus();
    int ok = cur != root && sgui_popup(root, 1);
    if (ok) {
        below.push_back({cur, focus});
        std::erase(closed, root);
        top = root;
    }
    sgui_unlock();
    return ok;
}

int screen_back()
{
    sgui_lock();
    release_closed();
    int ok = 0;
    if (!below.empty() && sgui_widget_alive(below.back().root) && sgui_popup(below.back().root, -1)) {
        closed.push_back(sgui_background() != nullptr ? sgui_background() : top);
        covered back = below.back();
        below.pop_back();
        top = back.root;
        // The focus goes back where it was.
        if (sgui_widget_alive(back.focus) && root_of(back.focus) == back.root && !back.focus->hidden)
            sgui_focus_set(back.focus);
        ok = 1;
    }
    sgui_unlock();
    return ok;
}

int screen_back_key(sgui_widget *, int keys, int)
{
    keys = mainmenu_lock_keys(keys);
    if (keys & SGUI_KEY_BACK) {
        screen_back();
        keys &= ~SGUI_KEY_BACK;
    }
    return keys;
}

sgui_widget *screen_current()
{
    return top != nullptr ? top : sgui_root();
}

int screen_depth()
{
    return (int)below.size();
}

void screen_reset()
{
    below.clear();
    closed.clear();
    top = nullptr;
}

void screen_not_available()
{
    sgui_notice(SCREEN_NOT_AVAILABLE);
}

sgui_widget *screen_new_page(const char *title, int title_px, sgui_value_fn on_value, sgui_widget **page)
{
    sgui_widget *root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    root->key = screen_back_key;
    sgui_widget *p = sgui_widget_container(root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    p->event_val = on_value;
    sgui_widget *top = sgui_widget_container(p, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(title_px));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(title_px), (std::string("\x60") + title).c_str(), 1);
    *page = p;
    return root;
}

sgui_widget *screen_caption_row(sgui_widget *page, const char *caption, int row_px, int caption_px)
{
    sgui_widget *row = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(row_px));
    sgui_widget *l = sgui_widget_label(row, SGUI_HORIZONTAL, chanmap_w(caption_px), chanmap_h(row_px), caption, 0);
    sgui_set_font(l, CHANMAP_SMALL_FONT);
    return row;
}
