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

void run_line(const char *line)
{
    stream_run_command(line, 0);
}

// One message: checked, then its lines run after the end of a cycle, like a
// broadcast, so the commands never meet the writing of the command stream.
void serial_message(char *text, size_t length)
{
    size_t payload_length;
    char *payload = serial_check(text, length, &payload_length);
    if (payload == nullptr)
        return;
    pthread_mutex_lock(&levels_lock);
    stream_wait_cycle();
    pthread_mutex_lock(&command_lock);
    serial_each_line(payload, payload_length, run_line);
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
    serial_reader r{(char *)malloc(SERIAL_BUF_SIZE), 0};
    if (r.buf == nullptr) {
        log_error("rt_serial_thread: malloc (buf)\n");
        exit(1);
    }
    for (;;) {
        usleep(SERIAL_READ_PERIOD_US);
        ssize_t n = read(fd, r.buf + r.length, SERIAL_DATA_MAX - r.length);
        if (n <= 0)
            continue;
        size_t length = serial_collected(&r, (size_t)n);
        if (length > 0)
            serial_message(r.buf, length);
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

size_t serial_collected(serial_reader *r, size_t n)
{
    r->length += n;
    // A message ends with the last byte of a read being a line end.
    if (r->length == 0 || r->buf[r->length - 1] != '\n') {
        if (r->length >= SERIAL_DATA_MAX) {
            log_error("rt_serial_thread: message longer than %zu bytes discarded\n", SERIAL_DATA_MAX);
            r->length = 0;
        }
        return 0;
    }
    size_t length = r->length;
    r->buf[length] = '\0';
    r->length = 0;
    return length;
}

char *serial_check(char *text, size_t length, size_t *payload_length)
{
    char *colon = (char *)memchr(text, ':', length);
    if (colon == nullptr) {
        log_error("rt_serial_thread: checksum not found\n");
        return nullptr;
    }
    *colon = '\0';
    char *payload = colon + 1;
    *payload_length = length - (size_t)(payload - text);
    int sum = crc8(payload, *payload_length);
    if (checksum_value(text) != sum) {
        log_error("rt_serial_thread: checksum error (%d != '%s'; fs='%s'; len=%d)\n", sum, text, payload,
                  (int)*payload_length - 1);
        return nullptr;
    }
    return payload;
}

void serial_each_line(char *payload, size_t length, void (*run)(const char *line))
{
    for (char *line = payload; line < payload + length;) {
        char *end = (char *)memchr(line, '\n', (size_t)(payload + length - line));
        if (end == nullptr)
            end = payload + length;
        *end = '\0';
        run(line);
        line = end + 1;
    }
}
