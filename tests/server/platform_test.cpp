#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>

#include "platform.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "system.h"

namespace {

struct EnvGuard {
    EnvGuard() { unsetenv("MIREL_ROOT"), unsetenv("MIREL_PORT"), unsetenv("MIREL_DNS_PORT"); }
    ~EnvGuard()
    {
        unsetenv("MIREL_ROOT");
        unsetenv("MIREL_PORT");
        unsetenv("MIREL_DNS_PORT");
        platform_init();
    }
};

}  // namespace

TEST(Platform, DevicePathsUnchangedWithoutRoot)
{
    EnvGuard g;
    platform_init();
    EXPECT_EQ(platform_path("/dev/fpgabus"), "/dev/fpgabus");
    EXPECT_EQ(platform_root(), "");
    EXPECT_EQ(platform_port(), 24871);
    EXPECT_EQ(platform_dns_port(), 53);
}

TEST(Platform, RootAndPortsFromEnvironment)
{
    EnvGuard g;
    setenv("MIREL_ROOT", "/tmp/some/root/", 1);
    setenv("MIREL_PORT", "31000", 1);
    setenv("MIREL_DNS_PORT", "5353", 1);
    platform_init();
    EXPECT_EQ(platform_path("/mnt/userdata/sys_file.current"), "/tmp/some/root/mnt/userdata/sys_file.current");
    EXPECT_EQ(platform_path("relative"), "relative");
    EXPECT_EQ(platform_port(), 31000);
    EXPECT_EQ(platform_dns_port(), 5353);
    setenv("MIREL_PORT", "70000", 1);  // out of range: the default stays
    setenv("MIREL_DNS_PORT", "x", 1);
    platform_init();
    EXPECT_EQ(platform_port(), 24871);
    EXPECT_EQ(platform_dns_port(), 53);
}

TEST(Platform, ToolsComeFromTheRootsShims)
{
    EnvGuard g;
    SimRoot root("0A:1B:2C:3D:4E:5F");
    root.activate();
    platform_init();
    char out[128];
    EXPECT_EQ(platform_read(out, sizeof out, "iplink show eth0 | awk 'NR==2 {print toupper($2)}'"), 0);
    EXPECT_STREQ(out, "0A:1B:2C:3D:4E:5F\n");
    uint8_t mac[6];
    ASSERT_EQ(device_mac(mac), 0);
    EXPECT_EQ(mac[0], 0x0A);
    EXPECT_EQ(mac[5], 0x5F);
    EXPECT_EQ(system_device_number(), 0x4E5F);

    EXPECT_EQ(platform_read(out, sizeof out, "uname -sr"), 0);
    EXPECT_STREQ(out, "Linux 4.9.88-sim\n");
    EXPECT_EQ(platform_run("%s", platform_path("/bin/sync").c_str()), 0);
    EXPECT_EQ(platform_run("exit 3"), 3);
    std::string log = read_file(root.path("/tmp/shim.log"));
    EXPECT_NE(log.find("iplink show eth0\n"), std::string::npos);
    EXPECT_NE(log.find("sync\n"), std::string::npos);
}

TEST(Platform, ReadIsBoundedByTheBuffer)
{
    EnvGuard g;
    platform_init();
    char out[8];
    EXPECT_EQ(platform_read(out, sizeof out, "echo 0123456789abcdef"), 0);
    EXPECT_STREQ(out, "0123456");
}

TEST(Platform, SpawnFindsShimFirst)
{
    EnvGuard g;
    SimRoot root;
    root.activate();
    platform_init();
    const char *argv[] = {"brctl", "addif", "br0", "wlan0", nullptr};
    pid_t pid = platform_spawn(argv);
    ASSERT_GT(pid, 0);
    int st;
    ASSERT_EQ(waitpid(pid, &st, 0), pid);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_NE(read_file(root.path("/tmp/shim.log")).find("brctl addif br0 wlan0"), std::string::npos);
}

// An argument reaches the tool as it is: no shell reads quotes, blanks,
// semicolons or dollar signs in it.
TEST(Platform, ExecPassesArgumentsUnread)
{
    EnvGuard g;
    SimRoot root;
    root.activate();
    platform_init();
    std::string odd = root.path("/tmp/a \"b\"; touch $HOME `id` 'c'");
    write_file(odd, "");
    std::string out;
    EXPECT_EQ(platform_exec({"ls", "-1vA", odd}, &out), 0);
    EXPECT_EQ(out, odd + "\n");
    EXPECT_NE(read_file(root.path("/tmp/shim.log")).find("ls -1vA " + odd + "\n"), std::string::npos);
    // Bounded output, the rest read and dropped; a missing tool is -1.
    EXPECT_EQ(platform_exec({"uname", "-sr"}, &out, 5), 0);
    EXPECT_EQ(out, "Linux");
    EXPECT_EQ(platform_exec({"no-such-tool-here"}, &out), -1);
    EXPECT_EQ(platform_exec({}), -1);
    EXPECT_EQ(platform_exec({"ls", root.path("/tmp/missing")}, nullptr), 2);
}

TEST(SimShims, UsbStickMountsAsFolder)
{
    SimRoot root;
    std::string bin = root.dir() + "/bin/";
    std::string dev = root.path("/dev/sda1");
    std::string usb = root.path("/mnt/usb");
    EXPECT_NE(system((bin + "mount " + dev + " 2>/dev/null").c_str()), 0);  // no stick
    ASSERT_EQ(system(("mkdir -p " + dev + " && echo hi > " + dev + "/a.karu8").c_str()), 0);
    EXPECT_EQ(system((bin + "mount " + dev).c_str()), 0);
    EXPECT_EQ(read_file(usb + "/a.karu8"), "hi\n");
    EXPECT_EQ(system((bin + "umount " + usb).c_str()), 0);
    EXPECT_FALSE(file_exists(usb + "/a.karu8"));
    EXPECT_NE(system((bin + "umount " + usb + " 2>/dev/null").c_str()), 0);
    EXPECT_NE(system((bin + "touch /tmp/outside-the-root 2>/dev/null").c_str()), 0);
}
