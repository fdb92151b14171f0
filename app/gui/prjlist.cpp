#include "gui/prjlist.h"

#include "gui/chanmap.h"
#include "gui/screen.h"
#include "sgui/sgui_textedit.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, EDIT_PX = 25, ACTION_PX = 25, ROW_PX = CHANMAP_ROW_PX;
constexpr int MARK_PX = 24, LOCK_PX = 30, NAME_PX = SGUI_SCREEN_W - MARK_PX - LOCK_PX;

constexpr const char *GLYPH_TICK = "\uF00C";
constexpr const char *GLYPH_CURRENT = "\uF0DA";
constexpr const char *GLYPH_LOCK = "\uF023";
constexpr const char *GLYPH_READONLY = "\uF05E";

prjlist_screen *screen_of(sgui_widget *w)
{
    while (w != nullptr && w->par != nullptr)
        w = w->par;
    return w != nullptr ? static_cast<prjlist_screen *>(w->data) : nullptr;
}

const char *mark_of(const prjlist_screen *s, const prjlist_item &it)
{
    if (s->opt.action != nullptr)
        return it.ticked ? GLYPH_TICK : "";
    return s->current != 0 && it.key == s->current ? GLYPH_CURRENT : "";
}

const char *lock_of(const prjlist_item &it)
{
    return it.lock > 0 ? GLYPH_LOCK : it.lock < 0 ? GLYPH_READONLY : "";
}

void add_row(prjlist_screen *s, int item, const char *name)
{
    sgui_widget *row = sgui_widget_container(s->list, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX));
    prjlist_row r = {};
    r.item = item;
    const prjlist_item *it = item >= 0 ? &s->items[(size_t)item] : nullptr;
    r.mark = sgui_widget_icon(row, SGUI_HORIZONTAL, chanmap_w(MARK_PX), chanmap_h(ROW_PX),
                              it != nullptr ? mark_of(s, *it) : "", 0);
    r.name = chanmap_button(row, NAME_PX, name);
    r.name->user = item;
    r.lock = sgui_widget_icon(row, SGUI_HORIZONTAL, chanmap_w(LOCK_PX), chanmap_h(ROW_PX),
                              it != nullptr ? lock_of(*it) : "", 0);
    s->rows.push_back(r);
}

void show_rows(prjlist_screen *s)
{
    int kept = -1;
    for (const prjlist_row &r : s->rows)
        if (r.name == sgui_focus() && r.item >= 0)
            kept = s->items[(size_t)r.item].key;
    bool focus_in_list = kept >= 0 || (!s->rows.empty() && sgui_focus() == s->rows.front().name);
    while (s->list->child != nullptr)
        sgui_widget_free(s->list->child);
    s->rows.clear();
    s->list->view.y = 0;
    for (size_t i = 0; i < s->items.size(); i++)
        add_row(s, (int)i, s->items[i].name.empty() ? "[EMPTY]" : s->items[i].name.c_str());
    if (s->rows.empty())
        add_row(s, -1, s->opt.empty);
    std::vector<sgui_widget *> order;
    if (s->edit != nullptr)
        order.push_back(s->edit);
    sgui_widget *keep = nullptr;
    for (const prjlist_row &r : s->rows) {
        order.push_back(r.name);
        if (r.item >= 0 && s->items[(size_t)r.item].key == kept)
            keep = r.name;
    }
    if (s->action != nullptr)
        order.push_back(s->action);
    sgui_focus_chain(order.data(), order.size());
    sgui_invalidate_tree(s->list);
    if (sgui_root() == s->root && focus_in_list)
        sgui_focus_set(keep != nullptr ? keep : s->rows.front().name);
}

void on_value(sgui_widget *x, int value, const char *text)
{
    prjlist_screen *s = screen_of(x);
    if (s == nullptr)
        return;
    if (x == s->edit) {
        if (value == 1 && s->opt.name != nullptr)
            s->opt.name(s, text != nullptr ? text : "");
        return;
    }
    if (x == s->action) {
        if (s->opt.act != nullptr)
            s->opt.act(s);
        return;
    }
    if (x->kind != SGUI_KIND_BUTTON || x->user < 0 || x->user >= (int)s->items.size())
        return;
    if (s->opt.action != nullptr)
        prjlist_toggle(s, x->user);
    else if (s->opt.pick != nullptr)
        s->opt.pick(s, x->user);
}

void free_screen(sgui_widget *root)
{
    delete static_cast<prjlist_screen *>(root->data);
    root->data = nullptr;
}

}  // namespace

prjlist_screen *prjlist_new(const prjlist_options &opt)
{
    auto *s = new prjlist_screen{};
    s->opt = opt;
    s->root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    s->root->data = s;
    s->root->free_data = free_screen;
    s->root->key = screen_back_key;
    sgui_widget *page = sgui_widget_container(s->root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_value;
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    s->title = sgui_widget_label(top, SGUI_HORIZONTAL, SGUI_UNITS, chanmap_h(TITLE_PX), ("\x60" + std::string(opt.title)).c_str(), 1);
    sgui_set_font(s->title, CHANMAP_SMALL_FONT);
    int list_px = SGUI_SCREEN_H - TITLE_PX;
    if (opt.name_entry) {
        s->edit = sgui_widget_textedit(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(EDIT_PX), "", PRJLIST_NAME_MAX, 0);
        list_px -= EDIT_PX;
    }
    if (opt.action != nullptr)
        list_px -= ACTION_PX;
    s->list = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(list_px));
    if (opt.action != nullptr)
        s->action = sgui_widget_button(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ACTION_PX),
                                       ("\x60" + std::string(opt.action)).c_str());
    show_rows(s);
    return s;
}

void prjlist_set_items(prjlist_screen *s, const std::vector<prjlist_item> &items)
{
    std::vector<int> ticked = prjlist_ticked(s);
    s->items = items;
    for (prjlist_item &it : s->items)
        for (int k : ticked)
            if (k == it.key)
                it.ticked = true;
    show_rows(s);
}

void prjlist_open(prjlist_screen *s)
{
    if (!screen_open(s->root))
        return;
    sgui_focus_set(s->edit != nullptr ? s->edit : s->rows.front().name);
}

std::vector<int> prjlist_ticked(const prjlist_screen *s)
{
    std::vector<int> keys;
    for (const prjlist_item &it : s->items)
        if (it.ticked)
            keys.push_back(it.key);
    return keys;
}

const prjlist_item *prjlist_find(const prjlist_screen *s, int key)
{
    for (const prjlist_item &it : s->items)
        if (it.key == key)
            return &it;
    return nullptr;
}

void prjlist_toggle(prjlist_screen *s, int item)
{
    if (item < 0 || item >= (int)s->items.size())
        return;
    prjlist_item &it = s->items[(size_t)item];
    it.ticked = !it.ticked;
    for (const prjlist_row &r : s->rows)
        if (r.item == item)
            sgui_set_text(r.mark, mark_of(s, it));
}
