#include "gui/levels.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace {

constexpr std::array<const char *, LEVELS_UNITS> long_names = {"dBu", "dBm", "dBV", "dBFS", "dBGR"};
constexpr std::array<const char *, LEVELS_UNITS> short_names = {"dBu", "dBm", "dBV", "dBFS", "dBFS"};
constexpr std::array<float, LEVELS_UNITS> offsets = {-20.2f, -20.2f, -17.981512f, 0.0f, 0.0f};
constexpr float SILENT_BELOW = -120.0f;  // dBFS; a silent channel reads -382.3

levels_unit *g_unit;
std::vector<void (*)()> listeners;

}  // namespace

levels_unit *levels_unit_init()
{
    if (g_unit == nullptr)
        g_unit = new levels_unit{};
    levels_unit_set(0);
    return g_unit;
}

levels_unit *levels_unit_get()
{
    return g_unit;
}

void levels_unit_set(int index)
{
    if (g_unit == nullptr || index < 0 || index >= LEVELS_UNITS)
        return;
    bool changed = g_unit->index != index;
    g_unit->index = index;
    g_unit->offset = offsets[(size_t)index];
    if (changed)
        for (auto fn : listeners)
            fn();
}

void levels_unit_next()
{
    if (g_unit != nullptr)
        levels_unit_set((g_unit->index + 1) % LEVELS_UNITS);
}

void levels_unit_add_listener(void (*changed)())
{
    if (std::find(listeners.begin(), listeners.end(), changed) == listeners.end())
        listeners.push_back(changed);
}

const char *levels_unit_name(int index)
{
    return index >= 0 && index < LEVELS_UNITS ? long_names[(size_t)index] : "";
}

const char *levels_unit_short_name(int index)
{
    return index >= 0 && index < LEVELS_UNITS ? short_names[(size_t)index] : "";
}

bool levels_shows_gr()
{
    return g_unit != nullptr && g_unit->index == LEVELS_UNIT_GR;
}

float levels_to_shown(float server_value)
{
    return g_unit != nullptr ? server_value - g_unit->offset : server_value;
}

float levels_to_server(float shown_value)
{
    return g_unit != nullptr ? shown_value + g_unit->offset : shown_value;
}

const char *levels_text(float server_value, char *buf, size_t size)
{
    if (!(server_value >= SILENT_BELOW))
        snprintf(buf, size, "-inf");
    else
        snprintf(buf, size, "%1.1f", levels_to_shown(server_value));
    return buf;
}
