#include "usb.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <thread>

#include "platform.h"

namespace {

// -1 until set or read from the environment.
int g_retry_pause_ms = -1;

bool mount_device(const char *device)
{
    return platform_exec({"mount", platform_path(device)}) == 0;
}

bool ends_with(std::string_view s, std::string_view tail)
{
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

}  // namespace

void usb_set_retry_pause_ms(int ms)
{
    g_retry_pause_ms = std::max(ms, 0);
}

int usb_retry_pause_ms()
{
    if (g_retry_pause_ms < 0) {
        const char *v = getenv("MIREL_USB_RETRY_MS");
        char *end = nullptr;
        long ms = v != nullptr ? strtol(v, &end, 10) : -1;
        bool valid = v != nullptr && *v != 0 && *end == 0 && ms >= 0 && ms <= 60000;
        g_retry_pause_ms = valid ? (int)ms : USB_RETRY_PAUSE_MS;
    }
    return g_retry_pause_ms;
}

bool usb_mount()
{
    std::string mount_point = platform_path(USB_MOUNT_POINT);
    // A stick left mounted (a transfer cut short) would make mount fail.
    platform_exec({"umount", mount_point});
    // "mkdir -p" without starting a tool for it.
    std::error_code ignored;
    std::filesystem::create_directories(mount_point, ignored);
    for (int round = 0; round < USB_MOUNT_ROUNDS; round++) {
        if (mount_device(USB_DEVICE_PARTITION) || mount_device(USB_DEVICE_WHOLE))
            return true;
        if (round + 1 < USB_MOUNT_ROUNDS)
            std::this_thread::sleep_for(std::chrono::milliseconds(usb_retry_pause_ms()));
    }
    return false;
}

void usb_umount()
{
    platform_exec({"umount", platform_path(USB_MOUNT_POINT)});
}

std::string sanitize_filename(std::string_view name)
{
    std::string out;
    for (char ch : name) {
        bool keep = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '-' ||
                    ch == '.' || ch == '_' || ch == '#' || ch == '$' || ch == ' ';
        if (keep)
            out.push_back(ch);
    }
    return out;
}

std::string usb_file_path(std::string_view name)
{
    std::string path = platform_path(USB_MOUNT_POINT);
    path += '/';
    path += name;
    path += USB_FILE_EXTENSION;
    return path;
}

bool usb_list_files(std::vector<std::string> *paths)
{
    paths->clear();
    // The names the shell's "*.karu8" would give, found without a shell;
    // ls then puts them in natural version order.
    std::string folder = platform_path(USB_MOUNT_POINT);
    std::vector<std::string> argv = {"ls", "-1vA"};
    if (DIR *d = opendir(folder.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string_view name = e->d_name;
            // One path per line: a name with a line end cannot be listed.
            if (name.empty() || name[0] == '.' || !ends_with(name, USB_FILE_EXTENSION) ||
                name.find('\n') != std::string_view::npos)
                continue;
            std::string path = folder + "/" + std::string(name);
            if (path.size() <= USB_LIST_LINE_MAX)
                argv.push_back(std::move(path));
        }
        closedir(d);
    }
    if (argv.size() == 2)
        return true;  // ls without files would list the current folder
    std::string out;
    if (platform_exec(argv, &out, (argv.size() - 1) * (USB_LIST_LINE_MAX + 1)) != 0)
        return false;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos)
            end = out.size();
        if (end > at)
            paths->push_back(out.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

std::string usb_file_base(std::string_view path)
{
    size_t slash = path.rfind('/');
    if (slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    size_t dot = path.rfind('.');
    if (dot != std::string_view::npos)
        path = path.substr(0, dot);
    return std::string(path);
}

void usb_sync()
{
    platform_exec({platform_path("/bin/sync")});
}
