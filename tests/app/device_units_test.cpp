// The values that the device, amplifier and network pages turn into what
// the server keeps: temperature in kelvin, amplifier power as peak voltage,
// the network mode byte and the digital I/O word.
#include <gtest/gtest.h>

#include <string>

#include "common/hw_rev.h"
#include "gui/amplifiers.h"
#include "gui/device.h"
#include "gui/ip.h"

namespace {

TEST(DeviceUnits, TemperatureGoesToKelvinAndBack)
{
    EXPECT_NEAR(device_temp_shown(293.15, 0), 20.0, 1e-9);
    EXPECT_NEAR(device_temp_kelvin(-40.0, 0), 233.15, 1e-9);
    // Unit 1 is feet: revision 1 shows °F with it, revision 2 stays in °C.
    double shown = device_temp_shown(273.15, 1);
    EXPECT_NEAR(shown, hw::panel_temperature_fahrenheit ? 32.0 : 0.0, 1e-9);
    EXPECT_NEAR(device_temp_shown(233.15, 1), -40.0, 1e-9);  // -40 °C is -40 °F
    for (double k : {233.15, 273.15, 300.0, 323.15})
        for (int unit : {0, 1, 2})
            EXPECT_NEAR(device_temp_kelvin(device_temp_shown(k, unit), unit), k, 1e-9) << k << " unit " << unit;
}

TEST(DeviceUnits, MuteOnLoadIsBitZeroClear)
{
    EXPECT_EQ(device_flags_with_mute(0x06, 1), 0x06);
    EXPECT_EQ(device_flags_with_mute(0x07, 1), 0x06);
    EXPECT_EQ(device_flags_with_mute(0x06, 0), 0x07);  // other bits kept
}

TEST(AmplifierUnits, PowerAtFourOhmAndPeakVoltage)
{
    // P = V² / (2 · 4 Ω): 40 V peak is 200 W, 200 V the page's top 5000 W.
    EXPECT_EQ(amplifiers_pmax_of_peak(40), 200);
    EXPECT_EQ(amplifiers_peak_of_pmax(200), 40);
    EXPECT_EQ(amplifiers_pmax_of_peak(200), AMPLIFIERS_PMAX_TOP);
    EXPECT_EQ(amplifiers_peak_of_pmax(AMPLIFIERS_PMAX_TOP), 200);
    // Rounded to the 50 W steps, never below the first.
    EXPECT_EQ(amplifiers_pmax_of_peak(63), 500);  // 496 W
    EXPECT_EQ(amplifiers_pmax_of_peak(1), 50);
    for (int p = 50; p <= AMPLIFIERS_PMAX_TOP; p += 50)
        EXPECT_EQ(amplifiers_pmax_of_peak(amplifiers_peak_of_pmax(p)), p) << p;
}

TEST(AmplifierUnits, OneStepAboveTheTopIsNoLimit)
{
    const int infinity = AMPLIFIERS_PMAX_TOP + 50;
    EXPECT_EQ(amplifiers_peak_of_pmax(infinity), AMPLIFIERS_PEAK_UNLIMITED);
    EXPECT_EQ(amplifiers_pmax_of_peak(AMPLIFIERS_PEAK_UNLIMITED), infinity);  // no overflow on the square
    EXPECT_EQ(amplifiers_pmax_of_peak(amplifiers_peak_of_pmax(infinity)), infinity);
}

TEST(NetworkUnits, ModeValueCarriesTheNameServiceBit)
{
    const int addr[4] = {192, 168, 0, 64}, gw[4] = {192, 168, 0, 1};
    char buf[128];
    EXPECT_EQ(std::string(ip_network_line(1, 1, addr, 24, gw, buf, sizeof buf)), "0,1,192,168,0,64,24,192,168,0,1\n");
    EXPECT_EQ(std::string(ip_network_line(1, 0, addr, 24, gw, buf, sizeof buf)), "0,17,192,168,0,64,24,192,168,0,1\n");
    // Only the two mode bits come from the mode: a stale DNS bit in it is not sent.
    EXPECT_EQ(std::string(ip_network_line(2 | IP_MODE_NO_DNS, 1, addr, 16, gw, buf, sizeof buf)),
              "0,2,192,168,0,64,16,192,168,0,1\n");
}

TEST(NetworkUnits, DigitalWordKeepsItsLowBitsAroundTheOutputChoice)
{
    const int low = IP_DIO_INPUT_C | IP_DIO_REDUNDANCY | IP_DIO_EXT_IN_SPDIF;
    for (int choice = 0; choice <= 4; choice++) {
        int word = ip_dio_with_choice(low | 0x40, choice);
        EXPECT_EQ(word & 0x0F, low) << choice;
        EXPECT_EQ(ip_dio_choice(word), choice);
    }
    EXPECT_EQ(ip_dio_with_choice(0, 1), 0x10);
    EXPECT_EQ(ip_dio_with_choice(0, 4), 0x80);
    EXPECT_EQ(ip_dio_with_choice(0xF3, 9), 0x03);  // no such choice: none
}

}  // namespace
