// The DSP engine on a simulation root: commands mark, the cycle uploads to
// the FPGA window and reports. The window file is mapped a second time here,
// as an outside tool would see it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <vector>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include "command.h"
#include "common/hw_rev.h"
#include "dsp/dsp_lowlevel.h"
#include "dsp/dsp_update.h"
#include "dsp/filter.h"
#include "dsp/rt_thread.h"
#include "netlink.h"
#include "platform.h"
#include "report.h"
#include "support/capture.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "system.h"
#include "system_saver.h"

namespace {

class DspEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.activate();
        platform_init();
        FdCapture quiet;
        ASSERT_EQ(system_init(), 0);
        report_pending_clear();
        report_message_reset();
        // Already modified: later changes queue no project report of their own.
        my_sys->modified = 1;
        ASSERT_EQ(dsp_lowlevel_prepare(), 0);
        quiet.finish();
        int fd = open(root_.path("/dev/fpgabus").c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        void *p = mmap(nullptr, FPGA_WINDOW_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        ASSERT_NE(p, MAP_FAILED);
        window_ = (uint8_t *)p;
        rt_cycle_init(&cycle_);
    }

    void TearDown() override
    {
        munmap(window_, FPGA_WINDOW_SIZE);
        if (netlink_socket >= 0)
            close(netlink_socket);
        netlink_socket = -1;
    }

    // One real-time cycle; returns the reports it wrote and takes them, as
    // the stream server does.
    std::string cycle()
    {
        rt_cycle(&cycle_);
        std::string out(rt_info->command_stream, rt_info->command_stream_size);
        rt_info->command_stream_size = 0;
        return out;
    }

    // Cycles until nothing more is reported (the first cycles upload everything).
    std::string settle()
    {
        std::string all;
        for (int i = 0; i < 10; i++) {
            std::string s = cycle();
            if (s.empty())
                break;
            all += s;
        }
        return all;
    }

    void command(const std::string &line, int internal = 0)
    {
        pthread_mutex_lock(&command_lock);
        command_work(line.c_str(), internal);
        pthread_mutex_unlock(&command_lock);
    }

    float word(uint32_t offset) const
    {
        float v;
        memcpy(&v, window_ + offset, 4);
        return v;
    }

    void slot_equals(uint32_t offset, const float coef[7]) const
    {
        for (int i = 0; i < 7; i++)
            EXPECT_EQ(word(offset + 4 * i), coef[i]) << "slot " << std::hex << offset << " word " << i;
    }

    uint16_t delay_word(int o) const
    {
        uint16_t v;
        memcpy(&v, window_ + FPGA_OUT_DELAY + 2 * o, 2);
        return v;
    }

    SimRoot root_;
    uint8_t *window_ = nullptr;
    rt_cycle_state cycle_;
};

}  // namespace

TEST_F(DspEngine, GraphicBandsLandInTheirSlotsAndBypassKeepsDesigns)
{
    settle();
    command("12,1,3,20,6.0");
    command("12,1,3,0,-4.5");
    EXPECT_EQ(cycle().substr(0, 24), "12,1,3,0,-4.5\n12,1,3,20,");

    // Band b is centred on 1000 x 2^((b - 17)/3) Hz, kept as a float.
    filter_section want{};
    filter_geq_band(&want, (float)(1000.0 * std::pow(2.0, 3.0 / 3.0)), 4.318477f, 6.0);  // band 20: 2 kHz
    slot_equals(0x3300 + 96, want.coef_block);
    filter_geq_band(&want, (float)(1000.0 * std::pow(2.0, -17.0 / 3.0)), 4.318477f, -4.5);  // band 0
    slot_equals(0x5300 + 96, want.coef_block);

    command("14,1,3,4");
    std::string r = cycle();
    EXPECT_EQ(r.substr(0, 9), "14,1,3,4\n");
    EXPECT_EQ(r.substr(9, 7), "13,0,3,");  // the curve follows
    for (int band = 0; band < 31; band++)
        slot_equals(dsp_geq_row(band) + 96, FILTER_BYPASS_BLOCK);
    EXPECT_NE(my_device->bus[3].geq[20].coef_block[4], FILTER_BYPASS_BLOCK[4]);  // the design stays
    command("14,1,3,0");
    cycle();
    slot_equals(0x3300 + 96, my_device->bus[3].geq[20].coef_block);
}

TEST_F(DspEngine, OutputBandSlotAndDelaysAndSourceBus)
{
    settle();
    my_sys->out[7].peq[3] = sys_peq{1000.0f, 2.0f, 3.0f, 0};
    my_sys->out[7].bus_input = 5;
    report_output(45, 0, 7, 0, false);
    std::string r = cycle();
    EXPECT_NE(r.find("45,0,7,3,1000,2.0,3.0,0\n"), std::string::npos) << r;
    EXPECT_NE(r.find("42,0,7,5\n"), std::string::npos) << r;
    filter_section want{};
    filter_peq(&want, 1000.0, 2.0, 3.0);
    slot_equals(0x7300 + 224, want.coef_block);
    EXPECT_EQ(window_[FPGA_SOURCE_BUS + 7], 5);

    my_sys->delay_unit = DELAY_UNIT_MS;
    my_sys->out[2].delay_ms = 200.0f;
    my_sys->out[3].delay_ms = 1.0f;
    report_output(43, 0, 2, 0, false);
    report_output(43, 0, 3, 0, false);
    report_device(23, 0);
    cycle();
    EXPECT_EQ(delay_word(2), 16384);  // at most 16384 samples
    EXPECT_EQ(delay_word(3), 96);

    // Metres at 293.15 K: 10 m is 2795 samples.
    my_sys->delay_unit = DELAY_UNIT_METRES;
    my_sys->out[4].delay_m = 10.0f;
    report_output(43, 0, 4, 0, false);
    report_device(23, 0);
    r = cycle();
    EXPECT_EQ(delay_word(4), 2795);
    EXPECT_NE(r.find("43,0,4,10.00\n50,0,4,29.11\n"), std::string::npos) << r;
}

TEST_F(DspEngine, GainWordAndDynamicsWords)
{
    settle();
    uint32_t bus0 = FPGA_DYN_BUS, bus2 = FPGA_DYN_BUS + 2 * FPGA_DYN_STRIDE;
    EXPECT_EQ(word(bus0 + 56), 1.0f);  // 0 dB is exactly unity
    EXPECT_NEAR(word(bus2 + 56), 0.501, 0.001);
    command("3,1,0,1");
    EXPECT_EQ(cycle().substr(0, 8), "3,1,0,1\n");
    EXPECT_EQ(word(bus0 + 56), -1.0f);

    command("6,1,2,6");  // knee 6 dB with the default infinite ratio
    cycle();
    float tc = word(bus2 + 0);
    EXPECT_EQ(tc, -3.0f);
    EXPECT_EQ(word(bus2 + 4 * 7), tc);
    EXPECT_EQ(word(bus2 + 4 * 8), tc);
    EXPECT_EQ(word(bus2 + 4 * 10), 0.0f);
    EXPECT_EQ(word(bus2 + 4 * 6), 1.0f - 1.0f / 1e8f);

    command("5,1,2,4");  // ratio 4: the knee counts
    command("4,1,2,-20");
    cycle();
    EXPECT_EQ(word(bus2 + 0), -23.0f);
    EXPECT_EQ(word(bus2 + 4 * 7), -26.0f);
    EXPECT_EQ(word(bus2 + 4 * 8), -20.0f);
    EXPECT_FLOAT_EQ(word(bus2 + 4 * 10), 0.75f * 3.0f * -0.25f);
    // peak threshold -20 + 30 overshoot - 3, limited to 0 dB: unity
    EXPECT_NEAR(word(bus2 + 4 * 11), 1.0f, 1e-3);
    // attack 50 ms: 1 - e^(-1/(0.05 * 96000))
    EXPECT_NEAR(word(bus2 + 4 * 3), 1.0 - std::exp(-1.0 / 4800.0), 1e-9);
}

TEST_F(DspEngine, FirstChangeAfterALoadAlsoReportsTheProject)
{
    my_sys->modified = 0;
    settle();
    command("2,5,2,-3.5");
    EXPECT_EQ(cycle(), "2,5,2,-3.5\n100,0,0,-1,0,1,UNNAMED\n");
    command("2,5,2,-4.5");
    EXPECT_EQ(cycle(), "2,5,2,-4.5\n");
}

TEST_F(DspEngine, OneReportPerChangedValueInPassOrder)
{
    settle();
    command("2,5,2,-3.5");
    EXPECT_EQ(cycle(), "2,5,2,-3.5\n");
    command("2,6,2,-3.5");  // set to what it already is
    EXPECT_EQ(cycle(), "");
    command("2,4,2,-1.0");
    command("3,4,2,1");
    command("4,4,2,-10");
    EXPECT_EQ(cycle(), "3,4,2,1\n4,4,2,-10.0\n2,4,2,-1.0\n");
    command("1,3,2,1");
    command("1,3,2,0");  // back before the cycle: nothing changed
    EXPECT_EQ(cycle(), "");
}

TEST_F(DspEngine, LocalLinkGroupCopiesToTheOtherBus)
{
    settle();
    ASSERT_EQ(my_sys->bus[0].group_local, 0);
    ASSERT_EQ(my_sys->bus[1].group_local, 0);
    command("2,7,0,-3.0");
    EXPECT_EQ(cycle(), "2,7,0,-3.0\n2,7,1,-3.0\n");
    EXPECT_EQ(my_sys->bus[1].gain, -3.0f);
    command("16,7,1,2,1000,1.0,4.0,0");
    std::string r = cycle();
    EXPECT_EQ(r.substr(0, 26), "16,7,1,2,1000,1.0,4.0,0\n13");
    EXPECT_NE(r.find("16,7,0,2,1000,1.0,4.0,0\n"), std::string::npos) << r;
    // The copy uploads the designed section without designing it again.
    EXPECT_EQ(memcmp(my_device->bus[0].peq[2].sec.coef_block, my_device->bus[1].peq[2].sec.coef_block, 28), 0);
    slot_equals(ROW_BUS_PEQ + 0x200 + 0 * 32, my_device->bus[1].peq[2].sec.coef_block);
}

TEST_F(DspEngine, NetworkLinkGroupForwardsBehindThePrefix)
{
    // A receiving socket on loopback stands in for the other devices.
    int rx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(rx, (sockaddr *)&a, sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(rx, (sockaddr *)&a, &len);
    setenv("MIREL_PORT", std::to_string(ntohs(a.sin_port)).c_str(), 1);
    platform_init();
    netlink_socket = socket(AF_INET, SOCK_DGRAM, 0);
    netlink_broadcast_addr = htonl(INADDR_LOOPBACK);
    settle();
    auto received = [&] {
        std::vector<std::string> got;
        char buf[2048];
        ssize_t n;
        while ((n = recv(rx, buf, sizeof buf, MSG_DONTWAIT)) > 0)
            got.emplace_back(buf, (size_t)n);
        return got;
    };

    command("11,1,2,2");
    command("9,1,2,Mono");
    cycle();
    command("2,1,2,-1.0");
    EXPECT_EQ(cycle(), "2,1,2,-1.0\n");
    ASSERT_TRUE(wait_until([&] { return true; }));
    std::vector<std::string> got = received();
    // The label is never forwarded; the gain arrives behind "||2|" with its NUL.
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::string("||2|11,1,2,2\n", 13) + '\0');
    EXPECT_EQ(got[1], std::string("||2|2,1,2,-1.0\n") + '\0');

    // The same kind of change arriving from the link is not sent back.
    command("2,9,2,-2.0", 1);
    EXPECT_EQ(cycle(), "2,-127,2,-2.0\n");
    EXPECT_TRUE(received().empty());
    close(rx);
    unsetenv("MIREL_PORT");
}

TEST_F(DspEngine, AlarmAnnouncedAndExpiresAfter80Cycles)
{
    settle();
    // What the alarm-mute command leaves behind.
    my_device->alarm_active = 1;
    my_device->alarm_end = rt_cycle_counter + 80;
    my_device->alarm_announce = 1;
    report_device(123, 0);
    std::string r = cycle();
    std::string want = "123,0,ALARM\n";
    for (int o = 0; o < 8; o++)
        want += "44,0," + std::to_string(o) + ",1\n";
    EXPECT_EQ(r, want);
    // Active while the counter has not passed its value at the command + 80.
    int quiet = 0;
    while (cycle().empty() && quiet < 200)
        quiet++;
    EXPECT_EQ(quiet, 80);
    EXPECT_EQ(my_device->alarm_active, 0);
}

TEST_F(DspEngine, LevelLinesAndStatusLine)
{
    settle();
    // Silence reads as the table logarithm of zero.
    std::string lv(rt_info->levels_stream, rt_info->levels_stream_size);
    EXPECT_NE(lv.find("31,0,-382.3,"), std::string::npos) << lv;
    EXPECT_NE(lv.find("30,7,-382.3,"), std::string::npos) << lv;
    uint32_t bus1 = FPGA_LEVEL_BUS + FPGA_LEVEL_STRIDE;
    auto put = [&](uint32_t off, float v) { memcpy(window_ + off, &v, 4); };
    put(bus1 + 4 * 5, 1.0f);   // 0 dB
    put(bus1 + 4 * 3, 0.5f);
    put(bus1 + 4 * 4, 2.0f);   // no gain reduction
    put(FPGA_LEVEL_OUT + 4 * 6, 0.01f);  // -20 dB
    cycle();
    lv.assign(rt_info->levels_stream, rt_info->levels_stream_size);
    EXPECT_NE(lv.find("31,1,0.0,0.0\n"), std::string::npos) << lv;
    EXPECT_NE(lv.find("30,0,-20.0,"), std::string::npos) << lv;
    EXPECT_EQ(word(bus1 + 4 * 5), 0.0f);  // read and cleared
    // Each meter keeps its last decibels while its word stays the same:
    // silence again, then a new level, then that level once more.
    for (float v : {0.0f, 0.01f, 0.01f, 1.0f}) {
        put(bus1 + 4 * 5, v);
        cycle();
        lv.assign(rt_info->levels_stream, rt_info->levels_stream_size);
        const char *want = v == 0.0f ? "31,1,-382.3," : v == 1.0f ? "31,1,0.0," : "31,1,-20.0,";
        EXPECT_NE(lv.find(want), std::string::npos) << v << "\n" << lv;
    }

    char buf[32];
    auto tenths = [&](float v) { return std::string(buf, rt_format_tenths(buf, v)); };
    EXPECT_EQ(tenths(0.0f), "0.0");
    EXPECT_EQ(tenths(-0.04f), "0.0");
    EXPECT_EQ(tenths(-0.06f), "-0.1");
    EXPECT_EQ(tenths(12.34f), "12.3");
    EXPECT_EQ(tenths(-382.3f), "-382.3");

    EXPECT_EQ(rt_status_input(0x41000020), 258);
    EXPECT_EQ(rt_status_input(0x90000010), 33);
    EXPECT_EQ(rt_status_input(0xFFFFFFCF), 0);
    // The status word is read from the control port every 10th cycle.
    uint32_t status = 0x410000A0;  // mode digit 2, ADAT at 96k
    int fd = open(root_.path("/dev/spi0").c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, &status, 4, 0), 4);
    close(fd);
    bool seen = false;
    for (int i = 0; i < 10 && !seen; i++) {
        cycle();
        seen = std::string(rt_info->levels_stream).rfind("29,2,258\n", 0) == 0;
    }
    EXPECT_TRUE(seen) << rt_info->levels_stream;
}

TEST_F(DspEngine, AutosaveOnce121CyclesAfterTheFirstChange)
{
    settle();
    // The first cycles saved nothing yet but counted; start from a saved state.
    for (int i = 0; i < 130; i++)
        cycle();
    std::string file = root_.path(SYS_FILE_CURRENT);
    ASSERT_TRUE(system_saver_wait(system_saver_requested(), 10000));
    ASSERT_TRUE(file_exists(file));
    unlink(file.c_str());
    command("2,1,4,-2.0");
    uint64_t before = system_saver_requested();
    int n = 0;
    while (system_saver_requested() == before && n < 200) {
        cycle();
        n++;
        if (n == 60)
            command("2,1,4,-3.0");  // a later change does not restart the count
    }
    EXPECT_EQ(n, 121);
    // The saver thread writes it meanwhile, with both changes.
    ASSERT_TRUE(system_saver_wait(system_saver_requested(), 10000));
    std::string saved = read_file(file);
    ASSERT_EQ(saved.size(), SYS_FILE_BYTES);
    sys_file rec;
    memcpy(&rec, saved.data() + SYS_FILE_RECORD_OFFSET, sizeof rec);
    EXPECT_EQ(rec.bus[4].gain, -3.0f);
    unlink(file.c_str());
    for (int i = 0; i < 130; i++)
        cycle();
    EXPECT_EQ(system_saver_requested(), before + 1);  // saved once, then nothing more to save
    EXPECT_FALSE(file_exists(file));
}

// A cycle hands the record to the saver thread and goes on: a save that
// takes long (a stalled disk) delays no cycle, and the newest generation
// is what lands on disk.
TEST_F(DspEngine, SlowSavesHoldUpNoCycle)
{
    settle();
    ASSERT_TRUE(system_saver_wait(system_saver_requested(), 10000));
    // The saver thread stalls in its next save until the test lets it go:
    // the temporary file's name is a FIFO, and opening it for writing waits
    // for a reader (a disk that hangs, as far as the saver can tell).
    std::string temp = root_.path(SYS_FILE_TEMP);
    ASSERT_EQ(mkfifo(temp.c_str(), 0644), 0);
    command("2,1,5,-7.0");
    uint64_t before = system_saver_requested();
    for (int n = 0; n < 200 && system_saver_requested() == before; n++)
        cycle();
    ASSERT_EQ(system_saver_requested(), before + 1);
    // Cycles go on (with the save on this thread they would hang here).
    for (int i = 0; i < 10; i++)
        cycle();
    EXPECT_FALSE(system_saver_wait(before + 1, 50));
    // A second change meanwhile: its generation is the one written next.
    command("2,1,5,-8.0");
    for (int n = 0; n < 200 && system_saver_requested() == before + 1; n++)
        cycle();
    ASSERT_EQ(system_saver_requested(), before + 2);
    FdCapture quiet;  // the stalled save fails (a FIFO cannot be synced) with its lines
    int fd = open(temp.c_str(), O_RDONLY);  // lets the stalled save go on
    ASSERT_GE(fd, 0);
    std::string drained;
    char buf[4096];
    for (ssize_t r; (r = read(fd, buf, sizeof buf)) > 0;)
        drained.append(buf, (size_t)r);
    close(fd);
    ASSERT_TRUE(system_saver_wait(before + 2, 10000));
    EXPECT_NE(strip_log_prefixes(quiet.finish()).find("system_save_state: cannot sync"), std::string::npos);
    EXPECT_EQ(drained.size(), SYS_FILE_BYTES);
    std::string saved = read_file(root_.path(SYS_FILE_CURRENT));
    ASSERT_EQ(saved.size(), SYS_FILE_BYTES);
    sys_file rec;
    memcpy(&rec, saved.data() + SYS_FILE_RECORD_OFFSET, sizeof rec);
    EXPECT_EQ(rec.bus[5].gain, -8.0f);
}

TEST_F(DspEngine, BusyCommandLockDelaysButLosesNothing)
{
    settle();
    pthread_mutex_lock(&command_lock);
    command_work("2,3,6,-9.0", 0);
    rt_cycle(&cycle_);  // the lock is busy: no pending work this cycle
    EXPECT_EQ(rt_info->command_stream_size, 0u);
    pthread_mutex_unlock(&command_lock);
    EXPECT_EQ(cycle(), "2,3,6,-9.0\n" + std::string(hw::rev == 2 ? "2,3,7,-9.0\n" : ""));
}

TEST_F(DspEngine, ReportsHeldUntilTaken)
{
    settle();
    command("2,1,2,-1.0");
    rt_cycle(&cycle_);
    std::string first(rt_info->command_stream, rt_info->command_stream_size);
    command("2,1,2,-2.0");
    rt_cycle(&cycle_);  // nobody took the reports: the stream stays as it was
    EXPECT_EQ(std::string(rt_info->command_stream, rt_info->command_stream_size), first);
    rt_info->command_stream_size = 0;
    EXPECT_EQ(cycle(), "2,1,2,-2.0\n");
}

TEST_F(DspEngine, FirstRefreshFitsAndSpreadsOverSmallStreams)
{
    // The first cycle after start reports the whole state within the stream.
    std::string first = cycle();
    EXPECT_LE(first.size(), COMMAND_STREAM_BUF_SIZE - 1);
    EXPECT_EQ(first.back(), '\n');
    EXPECT_NE(first.find("32,0,0,1,2,3,4,5,6,7,0,0,0,0,0,0,0,0\n"), std::string::npos);
    EXPECT_NE(first.find("22,0,KARU8-4660\n"), std::string::npos);
    EXPECT_EQ(cycle(), "");

    // Again from the start, with a stream far too small for one cycle: the
    // passes leave what does not fit pending and nothing is cut or lost.
    ASSERT_EQ(dsp_lowlevel_prepare(), 0);
    std::string all;
    char small[20000];
    int calls = 0;
    for (; calls < 50; calls++) {
        size_t len = 0;
        dsp_update_pending(small, sizeof small, &len);
        ASSERT_LT(len, sizeof small);
        ASSERT_TRUE(len == 0 || small[len - 1] == '\n');
        if (len == 0)
            break;
        all += std::string(small, len);
    }
    EXPECT_GT(calls, 1);
    EXPECT_EQ(all.size(), first.size());
    // Same lines, possibly in another order.
    auto sorted = [](const std::string &t) {
        std::vector<std::string> v;
        size_t at = 0;
        while (at < t.size()) {
            size_t nl = t.find('\n', at);
            v.push_back(t.substr(at, nl - at));
            at = nl + 1;
        }
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(all), sorted(first));
}

namespace {

// Cycle starts of the running thread, as its observer reports them.
std::mutex starts_mutex;
std::vector<std::pair<int64_t, int64_t>> starts;

void record_start(int64_t deadline, int64_t start)
{
    std::lock_guard<std::mutex> g(starts_mutex);
    if (starts.size() < 1000)
        starts.emplace_back(deadline, start);
}

}  // namespace

TEST_F(DspEngine, CommandsThroughTheRunningThreadReachTheWindow)
{
    rt_set_cycle_observer(record_start);
    start_rt_thread();
    // Stand in for the client links: take each cycle's reports.
    std::string reports;
    auto take = [&] {
        pthread_mutex_lock(&command_lock);
        reports.append(rt_info->command_stream, rt_info->command_stream_size);
        rt_info->command_stream_size = 0;
        pthread_mutex_unlock(&command_lock);
    };
    ASSERT_TRUE(wait_until([&] {
        take();
        return reports.find("32,0,") != std::string::npos;
    }));
    command("16,2,2,1,250,0.7,-6.0,0");
    command("5,2,2,8");
    ASSERT_TRUE(wait_until([&] {
        take();
        return reports.find("5,2,2,8.0\n") != std::string::npos;
    }));
    filter_section want{};
    filter_peq(&want, 250.0, 0.7f, -6.0);
    slot_equals(ROW_BUS_PEQ + 0x100 + 2 * 32, want.coef_block);
    EXPECT_FLOAT_EQ(word(FPGA_DYN_BUS + 2 * FPGA_DYN_STRIDE + 4 * 6), 1.0f - 1.0f / 8.0f);

    // Every cycle started on the 25 ms grid of the first one, never before its deadline.
    ASSERT_TRUE(wait_until([] {
        std::lock_guard<std::mutex> g(starts_mutex);
        return starts.size() >= 6;
    }));
    rt_set_cycle_observer(nullptr);
    std::lock_guard<std::mutex> g(starts_mutex);
    for (size_t i = 1; i < starts.size(); i++) {
        EXPECT_GT(starts[i].first, starts[i - 1].first) << i;
        EXPECT_EQ((starts[i].first - starts[0].first) % RT_CYCLE_NS, 0) << i;
        EXPECT_GE(starts[i].second, starts[i].first) << i;
    }
}

TEST(RtDeadline, CyclesKeepTheirGridWhateverTheWorkTook)
{
    const int64_t ms = 1000000, d = 1000 * ms;
    EXPECT_EQ(rt_next_deadline(d, d + 3 * ms), d + 25 * ms);        // on time
    EXPECT_EQ(rt_next_deadline(d, d + 30 * ms), d + 25 * ms);       // overran: the next starts at once
    EXPECT_EQ(rt_next_deadline(d, d + 49 * ms), d + 25 * ms);
    EXPECT_EQ(rt_next_deadline(d, d + 50 * ms), d + 50 * ms);       // a whole cycle missed: dropped
    EXPECT_EQ(rt_next_deadline(d, d + 110 * ms), d + 100 * ms);
    // After the late cycle the grid goes on as before: not early, not shifted.
    EXPECT_EQ(rt_next_deadline(d + 100 * ms, d + 104 * ms), d + 125 * ms);
    EXPECT_EQ(rt_next_deadline(d + 25 * ms, d + 31 * ms), d + 50 * ms);
}
