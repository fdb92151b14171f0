#include "gui/levels.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::array<const char *, LEVELS_UNITS> long_names = {"dBu", "dBm", "dBV", "dBFS", "dBGR"};
constexpr std::array<const char *, LEVELS_UNITS> short_names = {"dBu", "dBm", "dBV", "dBFS", "dBFS"};
constexpr std::array<float, LEVELS_UNITS> offsets = {-20.2f, -20.2f, -17.981512f, 0.0f, 0.0f};

levels_unit *g_unit;

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
    g_unit->index = index;
    g_unit->offset = offsets[(size_t)index];
}

const char *levels_unit_name(int index)
{
    return index >= 0 && index < LEVELS_UNITS ? long_names[(size_t)index] : "";
}

const char *levels_unit_short_name(int index)
{
    return index >= 0 && index < LEVELS_UNITS ? short_names[(size_t)index] : "";
}

float levels_to_shown(float server_value)
{
    return g_unit != nullptr ? server_value - g_unit->offset : server_value;
}

float levels_to_server(float shown_value)
{
    return g_unit != nullptr ? shown_value + g_unit->offset : shown_value;
}
