// Power cuts during saves: the real server is killed (SIGKILL) at random
// points of its autosave, again and again, and every start must find the
// newest or the previous generation of the settings, never the defaults.
//
// To hit the save and not the 25 ms between saves, the test traces two
// threads of the server at their system calls (ptrace): the real-time
// thread, whose sleeps it lets return at once so the three seconds to the
// autosave pass in a moment, and the saver thread that writes the file,
// which it kills at the entry or exit of a chosen system call of the save:
// before the new file exists, after it is written, between the renames,
// after them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "crc.h"
#include "platform.h"
#include "stream_harness.h"
#include "support/process.h"
#include "support/sim_root.h"
#include "system.h"

#if defined(__x86_64__)

namespace {

constexpr int kIterations = 40;
// A save takes about a dozen system calls: entry and exit of each; kill
// points beyond them cut the power right after the save.
constexpr int kKillPoints = 32;
// Cycles without a save after which the save is taken to have been made
// before the thread was traced (the countdown is 121 cycles).
constexpr int kCyclesWithoutSave = 400;
// Cycles whose sleep is cut short: the countdown and a few more.
constexpr int kCyclesToSave = 130;

// The server's thread of that name ("rt_thread", "saver"), or -1.
pid_t thread_tid(pid_t pid, const std::string &name)
{
    std::string task = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(task.c_str());
    pid_t found = -1;
    while (dirent *e = d ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        if (read_file(task + "/" + e->d_name + "/comm") == name + "\n")
            found = atoi(e->d_name);
    }
    if (d)
        closedir(d);
    return found;
}

// Threads of another process, each stopped at each of its system calls.
class SyscallTrace {
public:
    explicit SyscallTrace(pid_t pid) : pid_(pid) {}
    ~SyscallTrace() { kill_process(); }

    bool attach(pid_t tid)
    {
        if (ptrace(PTRACE_SEIZE, tid, 0, PTRACE_O_TRACESYSGOOD) != 0 || ptrace(PTRACE_INTERRUPT, tid, 0, 0) != 0)
            return false;
        tids_.push_back(tid);
        int st;
        if (waitpid(tid, &st, __WALL) != tid || !WIFSTOPPED(st))
            return false;
        return ptrace(PTRACE_SYSCALL, tid, 0, 0) == 0;
    }

    // The next system-call stop (entry or exit) of any traced thread; other
    // stops are passed on. -1 when a thread or the process has ended.
    pid_t next(__ptrace_syscall_info *info)
    {
        for (;;) {
            int st;
            pid_t tid = waitpid(-1, &st, __WALL);
            if (tid < 0 || !WIFSTOPPED(st))
                return -1;
            if (WSTOPSIG(st) == (SIGTRAP | 0x80))
                return ptrace(PTRACE_GET_SYSCALL_INFO, tid, sizeof *info, info) > 0 ? tid : -1;
            // A signal for the thread goes on to it; other stops need nothing.
            int sig = (st >> 16) == 0 ? WSTOPSIG(st) : 0;
            ptrace(PTRACE_SYSCALL, tid, 0, sig);
        }
    }

    void resume(pid_t tid) { ptrace(PTRACE_SYSCALL, tid, 0, 0); }

    // At a system-call entry: the call is not made and returns -ENOSYS.
    void skip_call(pid_t tid)
    {
        user_regs_struct regs;
        ptrace(PTRACE_GETREGS, tid, 0, &regs);
        regs.orig_rax = (unsigned long long)-1;
        ptrace(PTRACE_SETREGS, tid, 0, &regs);
    }

    // A NUL-terminated path in the process's memory.
    std::string path_at(uint64_t addr) const
    {
        char buf[512] = {};
        iovec local{buf, sizeof buf - 1}, remote{(void *)addr, sizeof buf - 1};
        if (process_vm_readv(pid_, &local, 1, &remote, 1, 0) < 0)
            return "";
        return buf;
    }

    // The power cut: the whole process ends where its threads stand.
    void kill_process()
    {
        if (tids_.empty())
            return;
        kill(pid_, SIGKILL);
        for (pid_t tid : tids_) {
            int st;
            while (waitpid(tid, &st, __WALL) == tid && !WIFEXITED(st) && !WIFSIGNALED(st)) {
            }
        }
        tids_.clear();
    }

private:
    pid_t pid_;
    std::vector<pid_t> tids_;
};

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A valid state file of the default record with bus 0's gain set.
std::string state_file(float gain)
{
    sys_file rec;
    system_defaults(&rec);
    rec.bus[0].gain = gain;
    std::string f(SYS_FILE_BYTES, '\0');
    uint32_t hdr[2] = {SYS_FILE_MAGIC, SYS_FILE_VERSION};
    memcpy(f.data(), hdr, 8);
    memcpy(f.data() + SYS_FILE_RECORD_OFFSET, &rec, sizeof rec);
    uint32_t crc = crc32(f.data(), SYS_FILE_CRC_OFFSET);
    memcpy(f.data() + SYS_FILE_CRC_OFFSET, &crc, 4);
    return f;
}

std::string gain_text(float gain)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%2.1f", gain);
    return buf;
}

// What happened to one save.
struct save_outcome {
    bool seen = false;       // the thread began a save while traced
    bool installed = false;  // the new file had taken the current file's name
};

// Traces the real-time thread (its sleeps cut short) and the saver thread
// until the save has gone kill_point stops past its start (or, when no save
// comes, until it is clear that it was made before), then cuts the power.
save_outcome cut_power_during_save(pid_t pid, pid_t rt, pid_t saver, int kill_point)
{
    save_outcome out;
    SyscallTrace trace(pid);
    if (!trace.attach(saver) || !trace.attach(rt)) {
        ADD_FAILURE() << "cannot trace the server's threads: " << strerror(errno);
        return out;
    }
    int stops_in_save = 0, sleeps = 0;
    bool renaming = false;  // inside the rename that installs the new file
    __ptrace_syscall_info info;
    for (pid_t tid; (tid = trace.next(&info)) > 0;) {
        bool entry = info.op == PTRACE_SYSCALL_INFO_ENTRY;
        if (tid == rt) {
            if (entry && info.entry.nr == SYS_clock_nanosleep) {
                // Cycles at once until the autosave is due, then at their
                // pace, so the saver thread (an ordinary one) gets its turn.
                if (++sleeps <= kCyclesToSave)
                    trace.skip_call(rt);
                if (!out.seen && sleeps > kCyclesWithoutSave) {
                    out.installed = true;  // saved before the trace began
                    break;
                }
            }
            trace.resume(rt);
            continue;
        }
        if (entry && info.entry.nr == SYS_openat && !out.seen &&
            ends_with(trace.path_at(info.entry.args[1]), SYS_FILE_TEMP)) {
            out.seen = true;
        }
        if (entry && (info.entry.nr == SYS_rename || info.entry.nr == SYS_renameat || info.entry.nr == SYS_renameat2)) {
            bool two_dirs = info.entry.nr != SYS_rename;
            std::string from = trace.path_at(info.entry.args[two_dirs ? 1 : 0]);
            std::string to = trace.path_at(info.entry.args[two_dirs ? 3 : 1]);
            renaming = ends_with(from, SYS_FILE_TEMP) && ends_with(to, SYS_FILE_CURRENT);
        } else if (!entry && renaming) {
            out.installed = out.installed || info.exit.rval == 0;
            renaming = false;
        }
        // Back to waiting for the next image: the save is over, and the cut
        // comes just after it.
        if (out.seen && entry && info.entry.nr == SYS_futex)
            break;
        if (out.seen && stops_in_save++ == kill_point)
            break;
        trace.resume(tid);
    }
    trace.kill_process();
    return out;
}

}  // namespace

TEST(PowerCut, KillsDuringSavesNeverCostTheSettings)
{
    SimRoot root;
    root.activate();
    platform_init();
    // Two generations on disk to begin with.
    write_file(root.path(SYS_FILE_BACKUP), state_file(-1.0f));
    write_file(root.path(SYS_FILE_CURRENT), state_file(-1.5f));
    float expect = -1.5f;  // what the next start must find

    // Every kill point once, in random order, then random ones.
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    std::vector<int> points;
    for (int i = 0; i < kIterations; i++)
        points.push_back(i < kKillPoints ? i : (int)(rng() % kKillPoints));
    std::shuffle(points.begin(), points.begin() + kKillPoints, rng);

    float newest = expect, previous = -1.0f;
    int interrupted = 0, torn = 0;
    for (int i = 0; i < kIterations && !HasFailure(); i++) {
        SCOPED_TRACE("iteration " + std::to_string(i) + ", kill point " + std::to_string(points[i]));
        ServerProcess server;
        server.start(root.dir(), free_port());
        TestSocket client(server.port());
        client.send("<mode>unix</mode>\n");
        std::string gain;
        ASSERT_TRUE(client.expect("\n2,0,0,"));
        ASSERT_TRUE(client.take_until("\n", &gain));
        float loaded = strtof(gain.c_str(), nullptr);
        // The newest generation, or the previous one, never the defaults;
        // which of the two follows from where the last save was cut.
        EXPECT_TRUE(loaded == newest || loaded == previous)
            << "loaded " << loaded << ", newest " << newest << ", previous " << previous;
        EXPECT_EQ(loaded, expect);

        // A change, seen back, then its save cut off somewhere.
        float next = -2.0f - 0.5f * (float)(i % 60);
        std::string change = "2,1,0," + gain_text(next);
        client.send(change + "\n");
        ASSERT_TRUE(client.expect(change + "\n"));
        close(client.fd);
        client.fd = -1;
        pid_t rt = -1, saver = -1;
        ASSERT_TRUE(wait_until([&] {
            return (rt = thread_tid(server.pid(), "rt_thread")) > 0 && (saver = thread_tid(server.pid(), "saver")) > 0;
        }));
        save_outcome cut = cut_power_during_save(server.pid(), rt, saver, points[i]);
        server.stop(SIGKILL);
        newest = next;
        previous = loaded;
        expect = cut.installed ? next : loaded;
        interrupted += !cut.installed;

        // Now and then the new current file is torn, as an older firmware's
        // save left it: its backup must carry the next start, and the next
        // save must not rotate the torn file over it.
        if (cut.installed && rng() % 3 == 0) {
            ASSERT_EQ(truncate(root.path(SYS_FILE_CURRENT).c_str(), 16384), 0);
            expect = loaded;
            torn++;
        }
    }
    // Enough of the cuts fell inside saves to mean something.
    EXPECT_GE(interrupted, kIterations / 5);
    RecordProperty("interrupted", interrupted);
    RecordProperty("torn", torn);
}

#endif
