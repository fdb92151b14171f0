#include "sgui/sgui_screentext.h"

#include <algorithm>
#include <cstdio>

#include "sgui/sgui_widget.h"

namespace {

struct area {
    int x1, y1, x2, y2;  // on the screen, x2 and y2 exclusive
};

area intersect(const area &a, const area &b)
{
    return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

void describe(sgui_widget *w, const area &on_screen, std::string &out)
{
    char text[1100];
    const char *kind = sgui_widget_describe(w, text, sizeof text);
    char marks[4] = "";
    size_t n = 0;
    if (w == sgui_focus())
        marks[n++] = '*';
    if (sgui_tab_selected(w) || sgui_radio_selected(w))
        marks[n++] = 's';
    if (!w->enabled)
        marks[n++] = 'd';
    if (n == 0)
        marks[n++] = '-';
    marks[n] = 0;
    char line[1200];
    int len = snprintf(line, sizeof line, "%s %d %d %d %d %s ", kind, on_screen.x1, on_screen.y1,
                       on_screen.x2 - on_screen.x1, on_screen.y2 - on_screen.y1, marks);
    for (const char *p = text; *p != 0 && len < (int)sizeof line - 3; p++) {
        if (*p == '\n') {
            line[len++] = '\\';
            line[len++] = 'n';
        } else if (*p != '\r') {
            line[len++] = *p;
        }
    }
    line[len++] = '\n';
    out.append(line, (size_t)len);
}

// origin: where w's surface point (0, 0) lies on the screen; clip: the
// part of the screen that w's ancestors let through.
void walk(sgui_widget *w, int origin_x, int origin_y, const area &clip, std::string &out)
{
    for (sgui_widget *c = w->child; c != nullptr; c = c->next) {
        if (c->hidden || !c->shown)
            continue;
        int x = origin_x + (c->abs.x1 - w->abs.x1), y = origin_y + (c->abs.y1 - w->abs.y1);
        area box = intersect(clip, {x, y, x + c->view.w, y + c->view.h});
        if (box.x2 <= box.x1 || box.y2 <= box.y1)
            continue;
        if (c->kind != SGUI_KIND_CONTAINER)
            describe(c, box, out);
        walk(c, x - c->view.x, y - c->view.y, box, out);
    }
}

}  // namespace

std::string sgui_screen_text()
{
    std::string out;
    sgui_lock();
    sgui_widget *r = sgui_root();
    if (r != nullptr)
        walk(r, -r->view.x, -r->view.y, {0, 0, SGUI_SCREEN_W, SGUI_SCREEN_H}, out);
    // While a page or a screen slides the picture is between two screens.
    if (sgui_transition() != 0 || sgui_screen_slide() != 0)
        out += sgui_transition() != 0 ? "slide 0 0 320 240 - page\n" : "slide 0 0 320 240 - screen\n";
    const char *status = sgui_status_text();
    if (status[0] != 0 || !sgui_connected()) {
        // The status overlay, placed as sgui draws it.
        const char *text = status[0] != 0 ? status : "CONNECTING...";
        int w = font_width(0, text) + 2 * font_width(0, " "), h = font_height(0, text);
        char line[128];
        snprintf(line, sizeof line, "overlay %d %d %d %d - %s\n", (SGUI_SCREEN_W - w) / 2, (SGUI_SCREEN_H - h) / 2, w,
                 h, text);
        out += line;
    }
    sgui_unlock();
    return out;
}

int sgui_save_screen_text(const char *path)
{
    std::string text = sgui_screen_text();
    std::string tmp = std::string(path) + ".tmp";
    FILE *f = fopen(tmp.c_str(), "w");
    if (f == nullptr)
        return -1;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = fclose(f) == 0 && ok;
    return ok && rename(tmp.c_str(), path) == 0 ? 0 : -1;
}
