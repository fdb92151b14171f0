#include "gui/channels.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "network.h"

namespace {

std::array<std::string, CHANNELS_BUSES> bus_labels;
std::array<std::string, CHANNELS_OUTPUTS> group_labels;
std::array<int, CHANNELS_OUTPUTS> out_group = {0, 1, 2, 3, 4, 5, 6, 7};  // every output its own group at start
std::vector<void (*)()> listeners;

bool in_range(int i, int n)
{
    return i >= 0 && i < n;
}

void notify()
{
    for (auto fn : listeners)
        fn();
}

void on_bus_label(const command_arg *a, intptr_t)
{
    if (a->count < 1 || !in_range(a->v[0].i, CHANNELS_BUSES))
        return;
    bus_labels[(size_t)a->v[0].i] = a->text;
    notify();
}

void on_group_label(const command_arg *a, intptr_t)
{
    if (a->count < 1 || !in_range(a->v[0].i, CHANNELS_OUTPUTS))
        return;
    group_labels[(size_t)a->v[0].i] = a->text;
    notify();
}

void on_group_map(const command_arg *a, intptr_t)
{
    if (a->count < CHANNELS_OUTPUTS)
        return;
    for (int o = 0; o < CHANNELS_OUTPUTS; o++)
        out_group[(size_t)o] = in_range(a->v[o].i, CHANNELS_OUTPUTS) ? a->v[o].i : -1;
    notify();
}

}  // namespace

void channels_init()
{
    network_add_listener(9, on_bus_label, 0);
    network_add_listener(32, on_group_map, 0);
    network_add_listener(35, on_group_label, 0);
}

void channels_add_listener(void (*changed)())
{
    if (std::find(listeners.begin(), listeners.end(), changed) == listeners.end())
        listeners.push_back(changed);
}

const char *channels_bus_label(int bus)
{
    return in_range(bus, CHANNELS_BUSES) ? bus_labels[(size_t)bus].c_str() : "";
}

int channels_output_group(int output)
{
    return in_range(output, CHANNELS_OUTPUTS) ? out_group[(size_t)output] : -1;
}

int channels_group_outputs(int group, int out[CHANNELS_GROUP_OUTPUTS])
{
    int n = 0;
    for (int i = 0; i < CHANNELS_GROUP_OUTPUTS; i++)
        out[i] = -1;
    for (int o = 0; o < CHANNELS_OUTPUTS && n < CHANNELS_GROUP_OUTPUTS; o++)
        if (out_group[(size_t)o] == group && in_range(group, CHANNELS_OUTPUTS))
            out[n++] = o;
    return n;
}

const char *channels_group_label(int group)
{
    return in_range(group, CHANNELS_OUTPUTS) ? group_labels[(size_t)group].c_str() : "";
}

const char *channels_bus_name(int bus, char *buf, size_t size)
{
    snprintf(buf, size, "IN %d %s", bus + 1, channels_bus_label(bus));
    return buf;
}

const char *channels_group_name(int group, char *buf, size_t size)
{
    int out[CHANNELS_GROUP_OUTPUTS];
    int n = channels_group_outputs(group, out);
    std::string outs;
    for (int i = 0; i < n; i++)
        outs += (i > 0 ? "+" : "") + std::to_string(out[i] + 1);
    snprintf(buf, size, "OUT %s %s", n > 0 ? outs.c_str() : "-", channels_group_label(group));
    return buf;
}
