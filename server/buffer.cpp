#include "buffer.h"

#include <cstdlib>
#include <cstring>

#include "log.h"

int buffer_reserve(buffer *buf, size_t n)
{
    if (buffer_room(buf) >= n)
        return 0;
    if (n > (size_t)-1 - buf->size)
        return -1;
    size_t need = buf->size + n;
    if (buf->alloc >= need) {
        memmove(buf->data, buffer_head(buf), buf->size);
        buf->pos = 0;
        return 0;
    }
    char *data = (char *)malloc(need);
    if (data == nullptr)
        return -1;
    if (buf->size > 0)
        memcpy(data, buffer_head(buf), buf->size);
    free(buf->data);
    buf->data = data;
    buf->pos = 0;
    buf->alloc = need;
    return 0;
}

int buffer_append(buffer *buf, const void *bytes, size_t length)
{
    if (buffer_reserve(buf, length) != 0)
        return -1;
    if (length > 0)
        memcpy(buffer_tail(buf), bytes, length);
    buf->size += length;
    return 0;
}

int buffer_append_string(buffer *buf, const char *s)
{
    return buffer_append(buf, s, strlen(s));
}

void buffer_skip(buffer *buf, size_t size)
{
    log_assert(size <= buf->size);
    buf->size -= size;
    // An emptied queue starts over at the front, so it rarely needs a move.
    buf->pos = buf->size == 0 ? 0 : buf->pos + size;
}

void buffer_free(buffer *buf)
{
    free(buf->data);
    *buf = buffer{};
}
