// The USB stick: mounting it at "/mnt/usb" for one transfer, the names of
// project export files and the list of those on the stick.
//
// Every tool runs through the platform module with an argument list, so
// nothing a file name holds is ever read by a shell.
#pragma once
#include <string>
#include <string_view>
#include <vector>

constexpr const char *USB_MOUNT_POINT = "/mnt/usb";
// Tried in this order: a stick with a partition table, then one without.
constexpr const char *USB_DEVICE_PARTITION = "/dev/sda1";
constexpr const char *USB_DEVICE_WHOLE = "/dev/sda";
constexpr const char *USB_FILE_EXTENSION = ".karu8";
// A stick just plugged in takes a few seconds before the kernel offers it.
constexpr int USB_MOUNT_ROUNDS = 9;
constexpr int USB_RETRY_PAUSE_MS = 1000;
// Longest listing line the server reads; longer paths are left out.
constexpr size_t USB_LIST_LINE_MAX = 511;

// The pause after a failed mount round. MIREL_USB_RETRY_MS=N in the
// environment sets it at start-up (tests, which must not wait nine seconds).
void usb_set_retry_pause_ms(int ms);
int usb_retry_pause_ms();

// "umount", the mount point made when missing, then up to USB_MOUNT_ROUNDS rounds of mounting
// the partition, then the whole device, pausing after each failed round.
// true when mounted.
bool usb_mount();
void usb_umount();

// Unmounts the stick when it goes out of scope, on every path out of a
// transfer that got past mounting.
struct usb_mount_guard {
    usb_mount_guard() = default;
    ~usb_mount_guard() { usb_umount(); }
    usb_mount_guard(const usb_mount_guard &) = delete;
    usb_mount_guard &operator=(const usb_mount_guard &) = delete;
};

// Keeps only ASCII letters, digits, "-", ".", "_", "#", "$" and space.
std::string sanitize_filename(std::string_view name);

// The export file of a project named name (already sanitized) on the
// mounted stick, as a path the server can open.
std::string usb_file_path(std::string_view name);

// The export files on the mounted stick, in natural version order ("ls
// -1vA"), as paths the server can open. false when ls could not be started.
bool usb_list_files(std::vector<std::string> *paths);

// A file's name without its folder and without its last extension.
std::string usb_file_base(std::string_view path);

// Writes the file system's buffers out ("/bin/sync").
void usb_sync();
