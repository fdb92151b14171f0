#include "gui/channels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ids.h"
#include "network.h"

namespace {

std::array<channels_bus, CHANNELS_BUSES> buses;
std::array<channels_output, CHANNELS_OUTPUTS> outputs;
std::array<channels_group, CHANNELS_OUTPUTS> groups;
channels_delay delay;
int system_flags;
int digital_status;
int digital_io;
std::vector<void (*)()> listeners;

constexpr const char *way_names[] = {"", "HIGH", "MID", "LOW", "SUB", "RES", "RES", "RES", "RES"};
constexpr const char *delay_unit_names[] = {"meter", "feet", "milliseconds"};

bool in_range(int i, int n)
{
    return i >= 0 && i < n;
}

void notify()
{
    for (auto fn : listeners)
        fn();
}

// The server's values after its start, until its reports arrive.
void reset_records()
{
    for (channels_bus &b : buses)
        b = {"", 0, 0, 0.0f, 0, 0.0f, 0.0f, 0.0f, CHANNELS_RATIO_INFINITE, 0.0f, 30.0f, 50.0f, 80.0f, 0.0f,
             -1, -1, CHANNELS_SILENT, 0.0f};
    for (int o = 0; o < CHANNELS_OUTPUTS; o++) {
        outputs[(size_t)o] = {1, o, 0, 0, CHANNELS_SILENT, 0.0f};  // every output its own group, muted
        groups[(size_t)o] = {"", "", 0, 0.0f, 0, 0.0f, 0.0f, -1, -1};
    }
    delay = {2, 293.15f, 156.66667f, 0.0f};
    system_flags = 0;
    digital_status = 0;
    digital_io = 0;
}

// The record a report names (its first number), or nullptr.
template <typename T, size_t N> T *named(std::array<T, N> &records, const command_arg *a, int fields)
{
    if (a->count < fields || !in_range(a->v[0].i, (int)N))
        return nullptr;
    return &records[(size_t)a->v[0].i];
}

// Fields set by a report of "channel, value": a table per record and type,
// the listener's user value is the row.
template <typename R> struct field_row {
    int id;
    float R::*f;  // a float field, or
    int R::*i;    // an int field
};

constexpr field_row<channels_bus> bus_fields[] = {
    {ID_BUS_MUTE, nullptr, &channels_bus::mute},
    {ID_BUS_GAIN, &channels_bus::gain, nullptr},
    {ID_BUS_POLARITY, nullptr, &channels_bus::polarity},
    {ID_BUS_THRESHOLD, &channels_bus::thres, nullptr},
    {ID_BUS_RATIO, &channels_bus::ratio, nullptr},
    {ID_BUS_KNEE, &channels_bus::knee, nullptr},
    {ID_BUS_OVERSHOOT, &channels_bus::overshoot, nullptr},
    {ID_BUS_LOCAL_LINK, nullptr, &channels_bus::group_local},
    {ID_BUS_NETWORK_LINK, nullptr, &channels_bus::group_net},
    {ID_BUS_DELAY, &channels_bus::delay, nullptr},
    {ID_BUS_APPLIED_DELAY, &channels_bus::delay_ms, nullptr},
    {ID_BUS_ATTACK, &channels_bus::attack, nullptr},
    {ID_BUS_RELEASE, &channels_bus::release, nullptr},
    {ID_BUS_PEAK_RELEASE, &channels_bus::peak_release, nullptr},
};

constexpr field_row<channels_group> group_fields[] = {
    {ID_GROUP_GAIN, &channels_group::gain, nullptr},
    {ID_GROUP_POLARITY, nullptr, &channels_group::polarity},
    {ID_GROUP_LOCAL_LINK, nullptr, &channels_group::group_local},
    {ID_GROUP_NETWORK_LINK, nullptr, &channels_group::group_net},
    {ID_GROUP_DELAY, &channels_group::delay, nullptr},
    {ID_GROUP_APPLIED_DELAY, &channels_group::delay_ms, nullptr},
};

template <typename R, size_t N, size_t M>
void set_field(std::array<R, N> &records, const field_row<R> (&rows)[M], const command_arg *a, intptr_t row)
{
    R *r = named(records, a, 2);
    if (r == nullptr || row < 0 || (size_t)row >= M)
        return;
    if (rows[row].f != nullptr)
        r->*rows[row].f = a->v[1].f;
    else
        r->*rows[row].i = a->v[1].i;
}

void on_bus_field(const command_arg *a, intptr_t row)
{
    set_field(buses, bus_fields, a, row);
}

void on_group_field(const command_arg *a, intptr_t row)
{
    set_field(groups, group_fields, a, row);
}

void on_bus_patch(const command_arg *a, intptr_t)
{
    if (channels_bus *b = named(buses, a, 2))
        b->patch = a->v[1].u;
}

void on_bus_label(const command_arg *a, intptr_t)
{
    if (channels_bus *b = named(buses, a, 1)) {
        b->label = a->text;
        notify();
    }
}

void on_group_label(const command_arg *a, intptr_t)
{
    if (channels_group *g = named(groups, a, 1)) {
        g->label = a->text;
        notify();
    }
}

void on_group_loudspeaker(const command_arg *a, intptr_t)
{
    if (channels_group *g = named(groups, a, 1))
        g->lsp_name = a->text;
}

void on_group_map(const command_arg *a, intptr_t)
{
    if (a->count < CHANNELS_OUTPUTS)
        return;
    for (int o = 0; o < CHANNELS_OUTPUTS; o++) {
        channels_output &out = outputs[(size_t)o];
        int g = a->v[o].i;
        if (out.group != g)
            out.way = -1;  // until the group's way map comes
        out.group = in_range(g, CHANNELS_OUTPUTS) ? g : -1;
        if (a->count >= 2 * CHANNELS_OUTPUTS)
            out.lsp_id = a->v[CHANNELS_OUTPUTS + o].i;
    }
    notify();
}

// The way map of a group: the way index of each output in it, -1 elsewhere.
void on_group_ways(const command_arg *a, intptr_t)
{
    if (a->count < 1 + CHANNELS_OUTPUTS || !in_range(a->v[0].i, CHANNELS_OUTPUTS))
        return;
    for (int o = 0; o < CHANNELS_OUTPUTS; o++)
        if (a->v[1 + o].i >= 0)
            outputs[(size_t)o].way = a->v[1 + o].i;
    notify();
}

void on_output_mute(const command_arg *a, intptr_t)
{
    if (channels_output *o = named(outputs, a, 2))
        o->mute = a->v[1].i != 0;
}

void on_bus_level(const command_arg *a, intptr_t)
{
    if (channels_bus *b = named(buses, a, 3)) {
        b->level = a->v[1].f;
        b->gr = a->v[2].f;
    }
}

void on_output_level(const command_arg *a, intptr_t)
{
    if (channels_output *o = named(outputs, a, 3)) {
        o->level = a->v[1].f;
        o->gr = a->v[2].f;
    }
}

void on_delay_settings(const command_arg *a, intptr_t)
{
    if (a->count < 3)
        return;
    delay.unit = a->v[0].i;
    delay.temperature = a->v[1].f;
    delay.max_output = a->v[2].f;
    delay.max_bus = a->count >= 4 ? a->v[3].f : 0.0f;
}

void on_system_flags(const command_arg *a, intptr_t)
{
    if (a->count >= 1)
        system_flags = a->v[0].i;
}

void on_digital_status(const command_arg *a, intptr_t)
{
    if (a->count >= 2)
        digital_status = a->v[1].i;
}

void on_digital_io(const command_arg *a, intptr_t)
{
    if (a->count >= 1)
        digital_io = a->v[0].i;
}

// The input bus of a group changes the routing its names show.
void on_group_input(const command_arg *a, intptr_t)
{
    if (channels_group *g = named(groups, a, 2)) {
        g->input = a->v[1].i;
        notify();
    }
}

}  // namespace

void channels_init()
{
    reset_records();
    for (size_t i = 0; i < std::size(bus_fields); i++)
        network_add_listener(bus_fields[i].id, on_bus_field, (intptr_t)i);
    for (size_t i = 0; i < std::size(group_fields); i++)
        network_add_listener(group_fields[i].id, on_group_field, (intptr_t)i);
    network_add_listener(ID_BUS_PATCH, on_bus_patch, 0);
    network_add_listener(ID_BUS_LABEL, on_bus_label, 0);
    network_add_listener(ID_GROUP_LABEL, on_group_label, 0);
    network_add_listener(ID_GROUP_LOUDSPEAKER, on_group_loudspeaker, 0);
    network_add_listener(ID_GROUP_INPUT, on_group_input, 0);
    network_add_listener(ID_GROUP_MAP, on_group_map, 0);
    network_add_listener(ID_GROUP_WAYS, on_group_ways, 0);
    network_add_listener(ID_OUTPUT_MUTE, on_output_mute, 0);
    network_add_listener(ID_BUS_LEVEL, on_bus_level, 0);
    network_add_listener(ID_OUTPUT_LEVEL, on_output_level, 0);
    network_add_listener(ID_DELAY_SETTINGS, on_delay_settings, 0);
    network_add_listener(ID_SYSTEM_FLAGS, on_system_flags, 0);
    network_add_listener(ID_DIGITAL_STATUS, on_digital_status, 0);
    network_add_listener(ID_DIGITAL_IO, on_digital_io, 0);
}

void channels_add_listener(void (*changed)())
{
    if (std::find(listeners.begin(), listeners.end(), changed) == listeners.end())
        listeners.push_back(changed);
}

channels_bus *channels_bus_get(int bus)
{
    return in_range(bus, CHANNELS_BUSES) ? &buses[(size_t)bus] : nullptr;
}

channels_output *channels_output_get(int output)
{
    return in_range(output, CHANNELS_OUTPUTS) ? &outputs[(size_t)output] : nullptr;
}

channels_group *channels_group_get(int group)
{
    return in_range(group, CHANNELS_OUTPUTS) ? &groups[(size_t)group] : nullptr;
}

channels_delay &channels_delay_get()
{
    return delay;
}

int channels_system_flags()
{
    return system_flags;
}

int channels_digital_status()
{
    return digital_status;
}

int channels_digital_io()
{
    return digital_io;
}

const char *channels_bus_label(int bus)
{
    return in_range(bus, CHANNELS_BUSES) ? buses[(size_t)bus].label.c_str() : "";
}

int channels_output_group(int output)
{
    return in_range(output, CHANNELS_OUTPUTS) ? outputs[(size_t)output].group : -1;
}

int channels_group_outputs(int group, int out[CHANNELS_GROUP_OUTPUTS])
{
    int n = 0;
    for (int i = 0; i < CHANNELS_GROUP_OUTPUTS; i++)
        out[i] = -1;
    for (int o = 0; o < CHANNELS_OUTPUTS && n < CHANNELS_GROUP_OUTPUTS; o++)
        if (outputs[(size_t)o].group == group && in_range(group, CHANNELS_OUTPUTS))
            out[n++] = o;
    return n;
}

const char *channels_group_label(int group)
{
    return in_range(group, CHANNELS_OUTPUTS) ? groups[(size_t)group].label.c_str() : "";
}

bool channels_group_muted(int group)
{
    int out[CHANNELS_GROUP_OUTPUTS];
    int n = channels_group_outputs(group, out);
    for (int i = 0; i < n; i++)
        if (!outputs[(size_t)out[i]].mute)
            return false;
    return n > 0;
}

const char *channels_bus_name(int bus, char *buf, size_t size)
{
    snprintf(buf, size, "IN %d %s", bus + 1, channels_bus_label(bus));
    return buf;
}

const char *channels_group_outputs_text(int group, char *buf, size_t size)
{
    int out[CHANNELS_GROUP_OUTPUTS];
    int n = channels_group_outputs(group, out);
    std::string outs;
    for (int i = 0; i < n; i++)
        outs += (i > 0 ? "+" : "") + std::to_string(out[i] + 1);
    snprintf(buf, size, "%s", n > 0 ? outs.c_str() : "-");
    return buf;
}

const char *channels_group_name(int group, char *buf, size_t size)
{
    char outs[32];
    snprintf(buf, size, "OUT %s %s", channels_group_outputs_text(group, outs, sizeof outs),
             channels_group_label(group));
    return buf;
}

const char *channels_patch_text(unsigned patch, char *buf, size_t size)
{
    std::string t;
    for (int i = 0; i < CHANNELS_PHYSICAL_INPUTS; i++) {
        if (!(patch & (1u << i)))
            continue;
        if (!t.empty())
            t += "+";
        t += i < 4 ? std::string(1, (char)('A' + i)) : "DIG" + std::to_string(i - 3);
    }
    snprintf(buf, size, "%s", t.empty() ? "-" : t.c_str());
    return buf;
}

const char *channels_way_name(int way)
{
    return way >= 0 && way < (int)std::size(way_names) ? way_names[way] : "";
}

const char *channels_delay_unit_name(int unit)
{
    return delay_unit_names[std::clamp(unit, 0, 2)];
}

const char *channels_delay_text(float value, float ms, char *buf, size_t size)
{
    if (delay.unit == 2 || delay.unit < 0 || delay.unit > 2)
        snprintf(buf, size, "%1.1f %s", value, channels_delay_unit_name(2));
    else
        snprintf(buf, size, "%1.1f %s (%1.2f ms)", value, channels_delay_unit_name(delay.unit), ms);
    return buf;
}
