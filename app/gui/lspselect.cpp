#include "gui/lspselect.h"

#include <algorithm>
#include <cstdio>

#include "gui/chanmap.h"
#include "gui/channels.h"
#include "gui/screen.h"
#include "ids.h"
#include "network.h"
#include "sgui/sgui_event.h"
#include "sgui/sgui_msgbox.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int TITLE_PX = 25, PATH_PX = 20, STATUS_PX = 20, ROW_PX = 24, TITLE_W_PX = 140;
constexpr int LIST_PX = SGUI_SCREEN_H - TITLE_PX - PATH_PX - STATUS_PX;
constexpr int MARK_PX = 24, WAYS_PX = 66, LOCK_PX = 24;
constexpr int NAME_PX = SGUI_SCREEN_W - MARK_PX - WAYS_PX - LOCK_PX;
constexpr int UP = -1;          // the row that goes up a folder
constexpr int NONE = -2;        // the row that says the folder is empty (or still coming)
constexpr int MAX_DEPTH = 16;   // folders deeper than this are not walked (a cycle)

constexpr const char *GLYPH_FOLDER = "\uF07B";
constexpr const char *GLYPH_UP = "\uF148";
constexpr const char *GLYPH_CURRENT = "\uF00C";
constexpr const char *GLYPH_LOCK = "\uF023";

lspselect_widgets *w;

const lspselect_entry *find(int id)
{
    for (const lspselect_entry &e : w->entries)
        if (e.id == id)
            return &e;
    return nullptr;
}

// The entry the group plays (its first output's).
int group_entry()
{
    int outs[CHANNELS_GROUP_OUTPUTS];
    if (channels_group_outputs(w->group, outs) == 0)
        return -1;
    return channels_output_get(outs[0])->lsp_id;
}

const char *mark_of(const lspselect_row &r)
{
    if (r.entry == UP)
        return GLYPH_UP;
    const lspselect_entry *e = find(r.entry);
    if (e != nullptr && e->folder)
        return GLYPH_FOLDER;
    return r.entry == group_entry() ? GLYPH_CURRENT : "";
}

void show_group()
{
    char name[256], outs[32], status[256];
    sgui_set_text(w->header, channels_group_name(w->group, name, sizeof name));
    channels_group *g = channels_group_get(w->group);
    snprintf(status, sizeof status, "OUT %s: %s", channels_group_outputs_text(w->group, outs, sizeof outs),
             g != nullptr ? g->lsp_name.c_str() : "");
    sgui_set_text(w->status, status);
    for (const lspselect_row &r : w->rows)
        sgui_set_text(r.mark, mark_of(r));
}

void show_path()
{
    std::string path;
    int at = w->folder;
    for (int depth = 0; at != 0 && depth < MAX_DEPTH; depth++) {
        const lspselect_entry *e = find(at);
        if (e == nullptr)
            break;
        path = " / " + e->name + path;
        at = e->parent;
    }
    sgui_set_text(w->path, ("LIBRARY" + path).c_str());
}

void add_row(int entry, const char *name, const char *ways, bool locked)
{
    sgui_widget *row = sgui_widget_container(w->list, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(ROW_PX));
    lspselect_row r;
    r.entry = entry;
    r.mark = sgui_widget_icon(row, SGUI_HORIZONTAL, chanmap_w(MARK_PX), chanmap_h(ROW_PX), "", 0);
    r.name = chanmap_button(row, NAME_PX, name);
    r.name->user = entry;
    r.ways = chanmap_text(row, WAYS_PX, ways, FONT_LEFT);
    r.lock = sgui_widget_icon(row, SGUI_HORIZONTAL, chanmap_w(LOCK_PX), chanmap_h(ROW_PX), locked ? GLYPH_LOCK : "", 0);
    w->rows.push_back(r);
}

// The rows of the folder shown: up, then its folders and entries in the
// server's order. The focus goes to the row of entry prefer if there is
// one, else stays on its entry, else goes to the group's, else to the top.
void show_rows(int prefer = NONE)
{
    int kept = NONE;
    for (const lspselect_row &r : w->rows)
        if (r.name == sgui_focus())
            kept = r.entry;
    while (w->list->child != nullptr)
        sgui_widget_free(w->list->child);
    w->rows.clear();
    w->list->view.y = 0;
    if (w->folder != 0)
        add_row(UP, "..", "", false);
    for (const lspselect_entry &e : w->entries) {
        // Entry 0 lives at the top level; a folder does not hold itself.
        if (e.parent != w->folder || (e.id == w->folder && e.id != 0))
            continue;
        char ways[16] = "";
        if (!e.folder)
            snprintf(ways, sizeof ways, "%d-WAY", e.ways);
        add_row(e.id, e.name.empty() ? "(no name)" : e.name.c_str(), ways, e.locked != 0);
    }
    if (w->rows.empty())
        add_row(NONE, w->listing ? "..." : "(empty)", "", false);
    std::vector<sgui_widget *> order;
    sgui_widget *preferred = nullptr, *keep = nullptr, *current = nullptr;
    for (const lspselect_row &r : w->rows) {
        order.push_back(r.name);
        if (r.entry == prefer)
            preferred = r.name;
        if (r.entry == kept)
            keep = r.name;
        if (r.entry == group_entry())
            current = r.name;
    }
    sgui_widget *focus = preferred != nullptr ? preferred
                         : keep != nullptr    ? keep
                         : current != nullptr ? current
                                              : w->rows.front().name;
    sgui_focus_chain(order.data(), order.size());
    show_path();
    show_group();
    sgui_invalidate_tree(w->list);
    if (sgui_root() == w->root)
        sgui_focus_set(focus);
}

void open_folder(int folder)
{
    const lspselect_entry *e = find(folder);
    w->folder = e != nullptr && e->folder ? folder : 0;
    show_rows();
}

// Up a folder, with the focus on the folder it leaves.
void folder_up()
{
    int left = w->folder;
    const lspselect_entry *e = find(left);
    w->folder = e != nullptr ? e->parent : 0;
    show_rows(left);
}

void on_answer(int answer, void *user)
{
    if (w == nullptr || answer != 1)
        return;
    char line[64];
    snprintf(line, sizeof line, "%d,%d,%d,%d\n", ID_GROUP_ASSIGN, network_get_conn_id(), w->group,
             (int)(intptr_t)user);
    network_output_command(line);
}

void on_value(sgui_widget *x, int, const char *)
{
    if (w == nullptr || x->kind != SGUI_KIND_BUTTON)
        return;
    int id = x->user;
    if (id == UP) {
        folder_up();
        return;
    }
    const lspselect_entry *e = find(id);
    if (e == nullptr)
        return;
    if (e->folder)
        open_folder(id);
    else
        sgui_message_box(SGUI_MSGBOX_YESNOCANCEL, LSPSELECT_QUESTION, on_answer, (void *)(intptr_t)id);
}

// Back goes up a folder, and from the top level back to the screen before.
int on_key(sgui_widget *root, int keys, int steps)
{
    if ((keys & SGUI_KEY_BACK) && w != nullptr && w->folder != 0 && !sgui_keylock()) {
        folder_up();
        return keys & ~SGUI_KEY_BACK;
    }
    return screen_back_key(root, keys, steps);
}

// 65: a listing begins (0 the whole tree, 1 one entry); 64: an entry;
// 66: the listing is complete.
void on_begin(const command_arg *a, intptr_t)
{
    if (w == nullptr)
        return;
    if (a->v[0].i == 0)
        w->entries.clear();
    w->listing = true;
}

void on_entry(const command_arg *a, intptr_t)
{
    if (w == nullptr || a->count < 6)
        return;
    lspselect_entry e = {a->v[0].i, a->v[1].i, a->v[2].i, a->v[3].i, a->v[4].i, a->v[5].i, a->text};
    auto at = std::find_if(w->entries.begin(), w->entries.end(), [&](const lspselect_entry &x) { return x.id == e.id; });
    if (at != w->entries.end())
        *at = e;
    else
        w->entries.push_back(e);
}

void on_end(const command_arg *, intptr_t)
{
    if (w == nullptr)
        return;
    w->listing = false;
    if (w->folder != 0 && find(w->folder) == nullptr)
        w->folder = 0;
    show_rows();
}

void on_group()
{
    if (w != nullptr)
        show_group();
}

void on_loudspeaker(const command_arg *, intptr_t)
{
    on_group();
}

void free_screen(sgui_widget *root)
{
    if (w != nullptr && w->root == root) {
        delete w;
        w = nullptr;
    }
}

}  // namespace

void lspselect_init()
{
    w = new lspselect_widgets{};
    w->root = sgui_widget_container(nullptr, 0, SGUI_UNITS, SGUI_UNITS);
    w->root->key = on_key;
    w->root->free_data = free_screen;
    sgui_widget *page = sgui_widget_container(w->root, SGUI_HORIZONTAL, SGUI_UNITS, SGUI_UNITS);
    page->event_val = on_value;
    page->flags |= SGUI_NOSCROLL;
    sgui_widget *top = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(TITLE_PX));
    top->colour[0] = top->colour[1] = top->colour[2] = 48;
    sgui_set_font(sgui_widget_label(top, SGUI_HORIZONTAL, chanmap_w(TITLE_W_PX), chanmap_h(TITLE_PX), "LOUDSPEAKER", 1),
                  CHANMAP_SMALL_FONT);
    w->header = sgui_widget_label(top, SGUI_HORIZONTAL, chanmap_w(SGUI_SCREEN_W - TITLE_W_PX), chanmap_h(TITLE_PX), "", 1);
    sgui_set_font(w->header, CHANMAP_SMALL_FONT);
    w->path = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(PATH_PX), "LIBRARY", 0);
    sgui_set_font(w->path, 3);
    w->list = sgui_widget_container(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(LIST_PX));
    w->status = sgui_widget_label(page, SGUI_VERTICAL, SGUI_UNITS, chanmap_h(STATUS_PX), "", 1);
    sgui_set_font(w->status, CHANMAP_SMALL_FONT);
    network_add_listener(ID_LSP_LIST_BEGIN, on_begin, 0);
    network_add_listener(ID_LSP_ENTRY, on_entry, 0);
    network_add_listener(ID_LSP_LIST_END, on_end, 0);
    network_add_listener(ID_GROUP_LOUDSPEAKER, on_loudspeaker, 0);
    channels_add_listener(on_group);
    show_rows();
}

void lspselect_open(int group)
{
    if (w == nullptr || channels_group_get(group) == nullptr)
        return;
    w->group = group;
    w->listing = true;
    char line[64];
    snprintf(line, sizeof line, "%d,%d,-1\n", ID_REQUEST_LSP_LIST, network_get_conn_id());
    network_output_command(line);
    show_rows();
    if (screen_open(w->root))
        sgui_focus_set(w->rows.front().name);
}

lspselect_widgets *lspselect_get()
{
    return w;
}
