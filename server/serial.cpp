#include "serial.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "crc.h"
#include "dsp/rt_thread.h"
#include "log.h"
#include "platform.h"
#include "stream.h"

namespace {

// Raw 8N1 at 9600 baud, modem lines ignored, a read returns at the first byte.
int init_serial(const char *path)
{
    int fd = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        log_error("init_serial: failed to open: %d, <%s>, %s\n", fd, path, strerror(errno));
        return fd;
    }
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        log_error("init_serial: tcgetattr: %s\n", strerror(errno));
        return fd;
    }
    cfmakeraw(&tio);  // no echo, no canonical input, no input or output processing
    cfsetospeed(&tio, B9600);
    tio.c_cflag &= ~(tcflag_t)(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        log_error("init_serial: tcsetattr: %s\n", strerror(errno));
    tcflush(fd, TCOFLUSH);
    return fd;
}

// The checksum text as atoi reads it: blanks, a sign, digits; no digits is 0.
// Saturates instead of overflowing.
long checksum_value(const char *text)
{
    while (isspace((unsigned char)*text))
        text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        text++;
    long v = 0;
    for (; isdigit((unsigned char)*text); text++)
        v = v < 100000000 ? v * 10 + (*text - '0') : v;
    return negative ? -v : v;
}

// One message: "checksum:payload", the payload ending in "\n"; text is
// NUL-terminated at length.
void serial_message(char *text, size_t length)
{
    char *colon = (char *)memchr(text, ':', length);
    if (colon == nullptr) {
        log_error("rt_serial_thread: checksum not found\n");
        return;
    }
    *colon = '\0';
    char *payload = colon + 1;
    size_t payload_len = length - (size_t)(payload - text);
    int sum = crc8(payload, payload_len);
    if (checksum_value(text) != sum) {
        log_error("rt_serial_thread: checksum error (%d != '%s'; fs='%s'; len=%d)\n", sum, text, payload,
                  (int)payload_len - 1);
        return;
    }
    // Like a broadcast: after the cycle, so the commands never meet the
    // writing of the command stream.
    pthread_mutex_lock(&levels_lock);
    stream_wait_cycle();
    pthread_mutex_lock(&command_lock);
    for (char *line = payload; line < payload + payload_len;) {
        char *end = (char *)memchr(line, '\n', (size_t)(payload + payload_len - line));
        if (end == nullptr)
            end = payload + payload_len;
        *end = '\0';
        stream_run_command(line, 0);
        line = end + 1;
    }
    pthread_mutex_unlock(&command_lock);
    pthread_mutex_unlock(&levels_lock);
}

void *rt_serial_thread(void *)
{
    std::string path = platform_path("/dev/ttyS1");
    int fd = init_serial(path.c_str());
    if (fd < 0) {
        log_error("rt_serial_thread: cannot open serial port, thread stalling\n");
        for (;;)
            sleep(SERIAL_STALL_SECONDS);
    }
    char *buf = (char *)malloc(SERIAL_BUF_SIZE);
    if (buf == nullptr) {
        log_error("rt_serial_thread: malloc (buf)\n");
        exit(1);
    }
    size_t length = 0;
    for (;;) {
        usleep(SERIAL_READ_PERIOD_US);
        ssize_t n = read(fd, buf + length, SERIAL_DATA_MAX - length);
        if (n <= 0)
            continue;
        length += (size_t)n;
        // A message ends with the last byte of a read being a line end.
        if (buf[length - 1] != '\n') {
            if (length == SERIAL_DATA_MAX) {
                log_error("rt_serial_thread: message longer than %zu bytes discarded\n", SERIAL_DATA_MAX);
                length = 0;
            }
            continue;
        }
        buf[length] = '\0';
        serial_message(buf, length);
        length = 0;
    }
    return nullptr;
}

}  // namespace

int serial_start()
{
    pthread_t thread;
    int rc = pthread_create(&thread, nullptr, rt_serial_thread, nullptr);
    if (rc == 0) {
        pthread_setname_np(thread, "serial");
        pthread_detach(thread);
    }
    return rc;
}
