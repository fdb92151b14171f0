#include "sgui/sgui_spinner.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>

#include "platform.h"
#include "sgui/sgui_widget.h"

namespace {

constexpr int ONE = 65536;

constexpr const char *spinner_ethswitchmode_list[] = {"NORMAL", "CONTROL", "AUDIO"};
constexpr const char *spinner_netmode_list[] = {"AUTO", "SERVER", "CLIENT", "STATIC"};
constexpr const char *spinner_hpftype_list[] = {"\u2013", "BW24", "LR24", "BW12", "LR12"};
constexpr const char *spinner_geq_list[] = {"20",  "25",  "31",   "40",   "50",   "63",   "80",  "100",
                                            "125", "160", "200",  "250",  "315",  "400",  "500", "630",
                                            "800", "1k",  "1.25k", "1.6k", "2k",   "2.5k", "3.15k", "4k",
                                            "5k",  "6.3k", "8k",  "10k",  "12.5k", "16k", "20k"};
constexpr int knee_table[] = {0, 3, 6, 9, 12};
constexpr int ratio_table[] = {1, 2, 4, 8, 12, 20, 21};

int to_fixed(double v)
{
    double r = std::round(v * ONE);
    return (int)std::clamp(r, (double)INT_MIN, (double)INT_MAX);
}

// Values just below zero (above -0.01) are zero.
int tidy(int v)
{
    return v >= -654 && v < 0 ? 0 : v;
}

int ipart(int v)
{
    return v >> 16;
}

template <size_t N> const char *list_text(const char *const (&list)[N], int v, const char *what)
{
    int i = ipart(v);
    if (i < 0 || (size_t)i >= N) {
        platform_log("sgui_spinner.cpp: update_spinner_data: Assertion `((int)((data->val) >> 16)) < (sizeof(%s) / "
                     "sizeof((%s)[0]))' failed.\n",
                     what, what);
        abort();
    }
    return list[i];
}

void update_spinner_data(sgui_spinner_data *d)
{
    int v = d->val;
    double f = (double)v / ONE;
    char *t = d->text;
    size_t n = sizeof d->text;
    switch (d->type) {
    case SPINNER_ETHSWITCHMODE:
        snprintf(t, n, "%s", list_text(spinner_ethswitchmode_list, v, "spinner_ethswitchmode_list"));
        break;
    case SPINNER_INT_INF:
    case SPINNER_INT_INF2:
        if (v == d->max)
            snprintf(t, n, "\u221E");
        else
            snprintf(t, n, "%d", ipart(v));
        break;
    case SPINNER_OFF_MAX:
        if (v == d->max)
            snprintf(t, n, "OFF");
        else
            snprintf(t, n, "%1.1f", f);
        break;
    case SPINNER_AUTO:
        if (v == 0)
            snprintf(t, n, "AUTO");
        else
            snprintf(t, n, "%1.1f", f);
        break;
    case SPINNER_ANALOG:
        snprintf(t, n, "%s", v == 0 ? "ANALOG" : "DIGITAL");
        break;
    case SPINNER_NETMODE:
        snprintf(t, n, "%s", list_text(spinner_netmode_list, v, "spinner_netmode_list"));
        break;
    case SPINNER_OUTPAIR: {
        static constexpr const char *pairs[] = {"LOOP", "1+2", "3+4", "5+6", "7+8"};
        int i = ipart(v);
        snprintf(t, n, "%s", i >= 1 && i <= 4 ? pairs[i] : pairs[0]);
        break;
    }
    case SPINNER_AVB:
        snprintf(t, n, "%s", v == 0 ? "AVB/ADAT" : "SPDIF");
        break;
    case SPINNER_HPFTYPE:
        snprintf(t, n, "%s", list_text(spinner_hpftype_list, v, "spinner_hpftype_list"));
        break;
    case SPINNER_FREQ:
        if (ipart(v) < 1000)
            snprintf(t, n, "%d", ipart(v));
        else
            snprintf(t, n, "%1.1fk", f / 1000);
        break;
    case SPINNER_GEQ:
        snprintf(t, n, "%s", list_text(spinner_geq_list, v, "spinner_geq_list"));
        break;
    case SPINNER_DELAYUNIT:
        snprintf(t, n, "%s", v == 0 ? "m" : v == ONE ? "ft" : "ms");
        break;
    case SPINNER_ONOFF:
        snprintf(t, n, "%s", v == 0 ? "OFF" : "ON");
        break;
    case SPINNER_RATIO:
        if (ipart(v) < 21)
            snprintf(t, n, "%d", ipart(v));
        else
            snprintf(t, n, "\u221E");
        break;
    case SPINNER_POLARITY:
        snprintf(t, n, "%s", v == 0 ? "NOR" : "REV");
        break;
    case SPINNER_DASH:
        if (v == 0)
            snprintf(t, n, "\u2013");
        else
            snprintf(t, n, "%d", ipart(v));
        break;
    case SPINNER_MAGNITUDE:
    case SPINNER_FLOAT1:
        snprintf(t, n, "%1.1f", f);
        break;
    case SPINNER_FLOAT2:
        snprintf(t, n, "%1.2f", f);
        break;
    default:
        snprintf(t, n, "%d", ipart(v));
        break;
    }
}

// Index of the table entry nearest to v.
template <size_t N> int table_index(const int (&table)[N], int v)
{
    int best = 0;
    for (int i = 1; i < (int)N; i++)
        if (std::abs(table[i] - v) < std::abs(table[best] - v))
            best = i;
    return best;
}

// One detent of the frequency spinner: fine steps low, coarser ones higher up.
int freq_detent(int hz, int dir)
{
    auto grid = [](int f, int dir) { return dir > 0 ? f < 100 ? 1 : f < 500 ? 5 : f < 1000 ? 10 : f < 10000 ? 100 : 500
                                                    : f <= 100 ? 1 : f <= 500 ? 5 : f <= 1000 ? 10 : f <= 10000 ? 100 : 500; };
    int g = grid(hz, dir);
    if (dir > 0)
        return (hz / g + 1) * g;
    int down = hz % g == 0 ? hz - g : hz - hz % g;
    return hz <= 0 ? hz - g : down;
}

// The value after steps detents, by the type's rule.
long long next_value(const sgui_spinner_data *d, int steps)
{
    long long v = d->val, st = d->step;
    int fine_div = d->fine ? 10 : 1;
    switch (d->type) {
    case SPINNER_ETHSWITCHMODE:
    case SPINNER_NETMODE:
    case SPINNER_HPFTYPE:
    case SPINNER_GEQ:
        return v + (long long)steps * ONE;
    case SPINNER_INT_INF:
    case SPINNER_INT_INF2:
        if (v == d->max && steps < 0)
            return d->max - ONE;
        return v + steps * st;
    case SPINNER_OFF_MAX:
        if (v == d->max && steps < 0)
            return d->max - 10 * st;
        return v + steps * st * 10 / fine_div;
    case SPINNER_AUTO:
    case SPINNER_FLOAT1:
        if (st <= ONE / 2)
            return v + steps * st * 10 / fine_div;
        return v + steps * st;
    case SPINNER_MAGNITUDE: {
        double f = (double)v / ONE;
        int mul;
        if (steps > 0)
            mul = f >= 9.99 ? 10 : f >= 3.99 ? 5 : f >= 0.99 ? 2 : 1;
        else
            mul = f > 10.01 ? 10 : f >= 4.01 ? 5 : f > 1.01 ? 2 : 1;
        return v + steps * st * mul / fine_div;
    }
    case SPINNER_FREQ: {
        int hz = ipart(d->val);
        int dir = steps > 0 ? 1 : -1;
        for (int i = 0; i < std::abs(steps); i++) {
            int next = freq_detent(hz, dir);
            if ((dir > 0 && next > ipart(d->max)) || (dir < 0 && next < ipart(d->min)))
                break;
            hz = next;
        }
        return (long long)hz * ONE;
    }
    case SPINNER_KNEE: {
        int i = std::clamp(table_index(knee_table, ipart(d->val)) + steps, 0, (int)std::size(knee_table) - 1);
        return (long long)knee_table[i] * ONE;
    }
    case SPINNER_RATIO: {
        int i = std::clamp(table_index(ratio_table, ipart(d->val)) + steps, 0, (int)std::size(ratio_table) - 1);
        return (long long)ratio_table[i] * ONE;
    }
    default:
        return v + steps * st;
    }
}

void spinner_changed(sgui_widget *w)
{
    update_spinner_data(static_cast<sgui_spinner_data *>(w->data));
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
    sgui_invalidate(w);
}

int spinner_key(sgui_widget *w, int keys, int steps)
{
    auto *d = static_cast<sgui_spinner_data *>(w->data);
    if (!w->enabled || d == nullptr)
        return keys;
    if ((keys & SGUI_KEY_ENTER) && steps != 0) {
        steps *= 10;
        keys &= ~SGUI_KEY_ENTER;
        d->fine = 1;
    } else if ((keys & SGUI_KEY_ENTER) && d->fine) {
        d->fine = 0;
        return keys & ~SGUI_KEY_ENTER;
    }
    bool enter = (keys & SGUI_KEY_ENTER) && d->immediate >= 0;
    long long nv = steps != 0 ? next_value(d, steps) : d->val;
    if ((d->val > 0 && nv < 0) || (d->val < 0 && nv > 0))
        nv = 0;  // a sign change stops at zero first
    bool restored = false;
    if (d->immediate <= 0 && d->val != d->committed && (keys & SGUI_KEY_BACK)) {
        nv = d->committed;
        keys &= ~SGUI_KEY_BACK;
        restored = true;
    }
    nv = std::clamp<long long>(nv, d->min, d->max);
    int v = tidy((int)nv);
    if (v == d->val && !(enter && d->immediate <= 0) && !restored)
        return keys;
    d->val = v;
    spinner_changed(w);
    if (d->immediate <= 0 && enter)
        keys &= ~SGUI_KEY_ENTER;
    if (w->on_focus != nullptr)
        w->on_focus(w, w->focused);
    if (d->immediate > 0 || enter) {
        d->committed = d->val;
        // Last: the screen may close itself in its handler.
        sgui_event_val(w, ipart(d->val), d->text);
    }
    return keys;
}

void spinner_draw(sgui_widget *w)
{
    auto *d = static_cast<sgui_spinner_data *>(w->data);
    if (!sgui_leaf_surface(w, w->view.w, w->view.h))
        return;
    if (w->focused)
        sgui_fill(w->s.get(), nullptr, 146, 76, 10);
    else
        sgui_fill(w->s.get(), nullptr, 48, 48, 48);
    // An edit that Enter has not committed yet shows in another colour.
    int colour = !w->enabled ? (w->focused ? 23 : 22) : d->val != d->committed ? 3 : w->focused ? 15 : 14;
    font_write(w->s.get(), 0, colour, FONT_CENTRE, w->view.w / 2, 0, d->text);
    sgui_add_damage(w, 0, 0, INT_MAX, INT_MAX);
}

void spinner_free(sgui_widget *w)
{
    delete static_cast<sgui_spinner_data *>(w->data);
    w->data = nullptr;
}

}  // namespace

sgui_widget *sgui_widget_spinner(sgui_widget *par, int flags, int w, int h, double min, double value, double max,
                                 int type, double step, int immediate)
{
    sgui_widget *x = widget_new(par, flags);
    if (x == nullptr)
        return nullptr;
    auto *d = new (std::nothrow) sgui_spinner_data{};
    if (d == nullptr) {
        platform_log("sgui_widget_spinner: self->par == NULL\n");
        sgui_widget_free(x);
        return nullptr;
    }
    x->data = d;
    x->kind = SGUI_KIND_SPINNER;
    x->free_data = spinner_free;
    x->draw = spinner_draw;
    x->key = spinner_key;
    x->focusable = 1;
    x->keymask |= SGUI_KEY_ENTER | (immediate > 0 ? 0 : SGUI_KEY_BACK);
    sgui_widget_set_size(x, w, h, 7450, SGUI_LABEL_H);
    d->type = type;
    d->immediate = immediate;
    d->step = to_fixed(step);
    d->min = to_fixed(std::min(min, max));
    d->max = to_fixed(std::max(min, max));
    d->val = tidy(std::clamp(to_fixed(value), d->min, d->max));
    d->committed = d->val;
    update_spinner_data(d);
    return x;
}

sgui_spinner_data *sgui_spinner_data_of(sgui_widget *w)
{
    w = sgui_control(w);
    return w != nullptr && w->kind == SGUI_KIND_SPINNER ? static_cast<sgui_spinner_data *>(w->data) : nullptr;
}

void sgui_spinner_set_value(sgui_widget *w, double value)
{
    sgui_spinner_data *d = sgui_spinner_data_of(w);
    if (d == nullptr || std::isnan(value))
        return;
    // A reported value outside the range is held at its end: the type's
    // text lists have no entry beyond the maximum.
    int v = tidy(std::clamp(to_fixed(value), d->min, d->max));
    d->val = v;
    d->committed = v;
    spinner_changed(sgui_control(w));
}

int sgui_spinner_get_value(sgui_widget *w)
{
    sgui_spinner_data *d = sgui_spinner_data_of(w);
    return d != nullptr ? ipart(d->val) : 0;
}

double sgui_spinner_get_double(sgui_widget *w)
{
    sgui_spinner_data *d = sgui_spinner_data_of(w);
    return d != nullptr ? (double)d->val / ONE : 0.0;
}

void sgui_spinner_set_range(sgui_widget *w, double min, double max)
{
    sgui_spinner_data *d = sgui_spinner_data_of(w);
    if (d == nullptr || std::isnan(min) || std::isnan(max))
        return;
    d->min = to_fixed(std::min(min, max));
    d->max = to_fixed(std::max(min, max));
    d->val = tidy(std::clamp(d->val, d->min, d->max));
    d->committed = std::clamp(d->committed, d->min, d->max);
    spinner_changed(sgui_control(w));
}

const char *sgui_spinner_get_text(sgui_widget *w)
{
    sgui_spinner_data *d = sgui_spinner_data_of(w);
    return d != nullptr ? d->text : "";
}
