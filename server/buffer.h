// Growable byte queues of the stream server: bytes are appended at the end
// and taken from the front. A record of zeros is an empty buffer.
#pragma once
#include <cstddef>

struct buffer {
    char *data;    // the allocation
    size_t pos;    // read position: the held bytes start at data + pos
    size_t size;   // number of bytes held
    size_t alloc;  // size of the allocation
};

// Makes room for n more bytes after the held ones, moving them to the start
// of the allocation or reallocating to exactly size + n. 0, or -1 when out of memory.
int buffer_reserve(buffer *buf, size_t n);
int buffer_append(buffer *buf, const void *bytes, size_t length);
int buffer_append_string(buffer *buf, const char *s);
// Drops size bytes from the front; more than is held is a programming error.
void buffer_skip(buffer *buf, size_t size);
// Releases the allocation and zeroes the record.
void buffer_free(buffer *buf);

// The held bytes, and the free space behind them that buffer_reserve made.
inline char *buffer_head(const buffer *buf) { return buf->data + buf->pos; }
inline char *buffer_tail(const buffer *buf) { return buf->data + buf->pos + buf->size; }
inline size_t buffer_room(const buffer *buf) { return buf->alloc - buf->pos - buf->size; }
