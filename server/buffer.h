// Growable byte queues of the stream server: bytes are appended at the end
// and taken from the front. A record of zeros is an empty buffer without a
// limit.
#pragma once
#include <cstddef>

struct buffer {
    char *data;    // the allocation
    size_t pos;    // read position: the held bytes start at data + pos
    size_t size;   // number of bytes held
    size_t alloc;  // size of the allocation
    size_t limit;  // most bytes it may ever hold; 0 = no limit
};

// Results of buffer_reserve and buffer_append.
constexpr int BUFFER_OK = 0;
constexpr int BUFFER_NO_MEMORY = -1;
constexpr int BUFFER_FULL = -2;  // the bytes would pass the limit: nothing was added

// Smallest allocation a buffer starts with.
constexpr size_t BUFFER_MIN_ALLOC = 256;

// Makes room for n more bytes after the held ones. The limit is checked
// here, before anything is copied. Held bytes are moved to the start of
// the allocation when the bytes dropped in front of them are at least as
// many (or the allocation may not grow any more); otherwise the allocation
// doubles, at most up to the limit, so appending costs amortised constant
// time per byte.
int buffer_reserve(buffer *buf, size_t n);
int buffer_append(buffer *buf, const void *bytes, size_t length);
int buffer_append_string(buffer *buf, const char *s);
// Drops size bytes from the front; more than is held is a programming error.
void buffer_skip(buffer *buf, size_t size);
// Releases the allocation and zeroes the record (the limit included).
void buffer_free(buffer *buf);

// The held bytes, and the free space behind them that buffer_reserve made.
inline char *buffer_head(const buffer *buf) { return buf->data + buf->pos; }
inline char *buffer_tail(const buffer *buf) { return buf->data + buf->pos + buf->size; }
inline size_t buffer_room(const buffer *buf) { return buf->alloc - buf->pos - buf->size; }
// Bytes that may still be added before the limit (SIZE_MAX without one).
inline size_t buffer_headroom(const buffer *buf)
{
    return buf->limit == 0 ? (size_t)-1 : (buf->limit > buf->size ? buf->limit - buf->size : 0);
}
