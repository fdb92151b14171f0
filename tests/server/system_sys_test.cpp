#include <algorithm>
#include <cmath>
#include <functional>

#include "command.h"
#include "report.h"
#include "server_state.h"
#include "system_out.h"
#include "system_sys.h"

namespace {

using SystemSys = ServerState;

// An accepted device setting: silent, its device mark raised for conn, and
// the project left alone.
void expect_device(int report_id, int conn, const std::function<void()> &call)
{
    report_pending_clear();
    my_sys->modified = 0;
    EXPECT_EQ(errors_of(call), "");
    EXPECT_EQ(report_pending.device[report_id], 1);
    EXPECT_EQ(report_pending.requester[report_id], conn);
    EXPECT_EQ(my_sys->modified, 0);
}

TEST_F(SystemSys, NetworkAddressesMustBeUsableHosts)
{
    auto set = [](const std::array<int, 4> &ip, int bits, const std::array<int, 4> &gw) {
        system_net_set_network(3, 99, 0x113, ip.data(), bits, gw.data());
    };
    expect_device(21, 3, [&] { set({10, 1, 2, 3}, 8, {0, 0, 0, 0}); });
    EXPECT_EQ(my_sys->ip[3], 3);
    EXPECT_EQ(my_sys->netmask_bits, 8);
    EXPECT_EQ(my_sys->net_flags, 0x13);  // the mode byte
    expect_device(21, 3, [&] { set({192, 168, 7, 254}, 24, {192, 168, 7, 1}); });
    EXPECT_EQ(my_sys->gateway[3], 1);

    const std::string ip = "system_net_set_network: invalid ip address\n";
    for (auto bad : {std::array{10, 0, 0, 0}, std::array{224, 0, 0, 1}, std::array{0, 1, 2, 3},
                     std::array{127, 0, 0, 1}, std::array{255, 1, 1, 1}, std::array{192, 88, 99, 5},
                     std::array{10, 256, 0, 1}, std::array{10, -1, 0, 1}})
        expect_rejected(ip, [&] { set(bad, 24, {0, 0, 0, 0}); });
    expect_rejected("system_net_set_network: invalid gateway address\n",
                    [&] { set({10, 0, 0, 5}, 24, {10, 0, 0, 0}); });
    expect_rejected("system_net_set_network: netmask_bits out of range\n",
                    [&] { set({10, 0, 0, 5}, 25, {0, 0, 0, 0}); });
    expect_rejected("system_net_set_network: netmask_bits out of range\n",
                    [&] { set({10, 0, 0, 5}, 7, {0, 0, 0, 0}); });
    EXPECT_TRUE(system_net_address_valid(std::array{192, 88, 98, 1}.data()));
}

TEST_F(SystemSys, NegativeWordsOnlyAskForTheReport)
{
    struct word_case {
        const char *command;
        int report_id;
        int32_t sys_file::*field;
    };
    for (auto [command, id, field] : {word_case{"27", 27, &sys_file::key_lock}, word_case{"62", 62, &sys_file::system_flags},
                                      word_case{"63", 63, &sys_file::digital_mode}}) {
        SCOPED_TRACE(command);
        std::string c = command;
        expect_device(id, 4, [&] { command_work((c + ",4,5").c_str(), 0); });
        EXPECT_EQ(my_sys->*field, 5);
        EXPECT_EQ(report_pending.device_value[id][1], 0);
        // A query: nothing stored, the mark asks the pass to report anyway.
        expect_device(id, 2, [&] { command_work((c + ",2,-1").c_str(), 0); });
        EXPECT_EQ(my_sys->*field, 5);
        EXPECT_EQ(report_pending.device_value[id][1], REPORT_VALUE_QUERY);
        // A missing value is a query too.
        expect_device(id, 2, [&] { command_work((c + ",2").c_str(), 0); });
        EXPECT_EQ(my_sys->*field, 5);
        expect_device(id, 2, [&] { command_work((c + ",2,0").c_str(), 0); });
        EXPECT_EQ(my_sys->*field, 0);
    }
}

TEST_F(SystemSys, ServiceModeAndDeviceName)
{
    expect_device(20, 1, [] { command_work("20,1,7", 0); });
    EXPECT_EQ(my_sys->service_mode, 1);
    expect_device(20, 1, [] { command_work("20,1,0", 0); });
    EXPECT_EQ(my_sys->service_mode, 0);
    // A cut line must not switch the service mode on.
    expect_rejected("command_work: missing argument ('20,1')\n", [] { command_work("20,1", 0); });

    std::string long_name = "Stage%20" + std::string(240, 'L');
    expect_device(22, 5, [&] { command_work(("22,5," + long_name).c_str(), 0); });
    EXPECT_EQ(std::string(my_sys->device_name), long_name.substr(0, 200));
    expect_device(22, 5, [] { command_work("22,5,FOH", 0); });
    EXPECT_STREQ(my_sys->device_name, "FOH");
    EXPECT_EQ(my_sys->device_name[4], 0);
    // Empty: the default name of MAC ...:12:34 comes back. The address is
    // read once: a client repeating the request starts no shell each time.
    std::string shims = root_.path("/tmp/shim.log");
    std::string before = read_file(shims);
    auto reads = std::count(before.begin(), before.end(), '\n');
    for (int i = 0; i < 20; i++)
        expect_device(22, 5, [] { command_work("22,5,", 0); });
    EXPECT_STREQ(my_sys->device_name, "KARU8-4660");
    std::string log = read_file(shims);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), reads) << log;
}

TEST_F(SystemSys, AmplifiersAndPlayerStubs)
{
    expect_device(24, 2, [] { command_work("24,2,7,48,20", 0); });
    EXPECT_EQ(my_sys->amp[7].gain, 48);
    EXPECT_EQ(my_sys->amp[7].peak_voltage, 20);
    EXPECT_EQ(report_pending.device_value[24][0], 7);
    expect_device(24, 2, [] { command_work("24,2,0,0,100000000", 0); });
    expect_rejected("system_misc_set_amplifiers: outid out of range\n", [] { command_work("24,2,8,10,100", 0); });
    expect_rejected("system_misc_set_amplifiers: gain out of range\n", [] { command_work("24,2,0,49,100", 0); });
    expect_rejected("system_misc_set_amplifiers: gain out of range\n", [] { command_work("24,2,0,-1,100", 0); });
    expect_rejected("system_misc_set_amplifiers: peak_voltage out of range\n", [] { command_work("24,2,0,1,19", 0); });
    expect_rejected("system_misc_set_amplifiers: peak_voltage out of range\n",
                    [] { command_work("24,2,0,1,100000001", 0); });
    expect_rejected("system_misc_set_amplifiers: outid out of range\n", [] { command_work("24,2", 0); });

    expect_rejected("", [] { command_work("86,1,-144", 0); });
    expect_rejected("", [] { command_work("85,1,0", 0); });
    expect_rejected("system_ply_volume: gain out of range\n", [] { command_work("86,1,10.5", 0); });
    expect_rejected("system_ply_volume: gain out of range\n", [] { command_work("86,1", 0); });
    expect_rejected("system_ply_seek: pos_s out of range\n", [] { command_work("85,1,-1", 0); });
}

TEST_F(SystemSys, FirmwareUpdateNeedsItsKey)
{
    expect_device(26, 6, [] { command_work("26,6,517204968", 0); });
    EXPECT_EQ(report_pending.device_value[26][0], SYSTEM_FIRMWARE_KEY);
    expect_rejected("system_sys_firmware_update: wrong key\n", [] { command_work("26,6,517204969", 0); });
    expect_rejected("system_sys_firmware_update: wrong key\n", [] { command_work("26,6", 0); });
}

TEST_F(SystemSys, DelayUnitRecomputesEveryDelayForTheSpeedOfSound)
{
    // 60 m at 343.42 m/s would be 174.7 ms: held at the limit, and the
    // distance follows the limited time.
    my_sys->out[2].delay_m = 60.0f;
    my_sys->out[5].delay_m = 10.0f;
    report_pending_clear();
    EXPECT_EQ(errors_of([] { command_work("23,3,0,293.15", 0); }), "");
    EXPECT_EQ(my_sys->out[2].delay_ms, SYSTEM_OUT_DELAY_MAX_MS);
    EXPECT_NEAR(my_sys->out[2].delay_m, 53.80, 0.005);
    EXPECT_NEAR(my_sys->out[5].delay_ms, 29.1188, 1e-3);
    EXPECT_NEAR(my_sys->out[5].delay_m, 10.0, 1e-5);
    EXPECT_EQ(report_pending.device[23], 1);
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(report_pending.out[i], 1) << i;
        EXPECT_EQ(report_pending.bus[i], 1) << i;
    }
    EXPECT_EQ(report_pending.requester[43], 3);
    EXPECT_EQ(report_pending.requester[60], 3);

    // Feet at 323.15 K: the distance stays, the time shortens.
    EXPECT_EQ(errors_of([] { command_work("23,3,1,323.15", 0); }), "");
    EXPECT_EQ(my_sys->delay_unit, DELAY_UNIT_FEET);
    EXPECT_EQ(my_sys->temperature, 323.15f);
    EXPECT_NEAR(my_sys->out[5].delay_ms, 10.0 / (331.5 + 0.596 * 50) * 1000, 1e-3);

    // Milliseconds: the time is the setting; the distance follows it.
    my_sys->out[5].delay_ms = 20.0f;
    EXPECT_EQ(errors_of([] { command_work("23,3,2,293.15", 0); }), "");
    EXPECT_EQ(my_sys->out[5].delay_ms, 20.0f);
    EXPECT_NEAR(my_sys->out[5].delay_m, 20.0 * 0.34342, 1e-4);

    expect_rejected("system_misc_set_delayunit: delay_unit out of range\n", [] { command_work("23,3,3,293", 0); });
    expect_rejected("system_misc_set_delayunit: delay_unit out of range\n", [] { command_work("23,3,-1,293", 0); });
    expect_rejected("system_misc_set_delayunit: delay_temp out of range (233.140)\n",
                    [] { command_work("23,3,0,233.14", 0); });
    expect_rejected("system_misc_set_delayunit: delay_temp out of range (323.160)\n",
                    [] { command_work("23,3,0,323.16", 0); });
    expect_rejected("system_misc_set_delayunit: delay_temp out of range (nan)\n", [] { command_work("23,3,0", 0); });
}

}  // namespace
