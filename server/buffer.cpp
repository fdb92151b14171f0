#include "buffer.h"

#include <cstdlib>
#include <cstring>

#include "log.h"

int buffer_reserve(buffer *buf, size_t n)
{
    if (buffer_room(buf) >= n)
        return BUFFER_OK;
    if (n > buffer_headroom(buf))
        return BUFFER_FULL;
    if (n > (size_t)-1 - buf->size)
        return BUFFER_NO_MEMORY;
    size_t need = buf->size + n;
    bool may_grow = buf->limit == 0 || buf->alloc < buf->limit;
    if (buf->alloc >= need && (buf->pos >= buf->size || !may_grow)) {
        // Each byte moved stands for a byte dropped in front of it.
        memmove(buf->data, buffer_head(buf), buf->size);
        buf->pos = 0;
        return BUFFER_OK;
    }
    size_t grown = buf->alloc > (size_t)-1 / 2 ? (size_t)-1 : buf->alloc * 2;
    if (grown < BUFFER_MIN_ALLOC)
        grown = BUFFER_MIN_ALLOC;
    if (buf->limit != 0 && grown > buf->limit)
        grown = buf->limit;
    if (grown < need)
        grown = need;
    char *data = (char *)malloc(grown);
    if (data == nullptr)
        return BUFFER_NO_MEMORY;
    if (buf->size > 0)
        memcpy(data, buffer_head(buf), buf->size);
    free(buf->data);
    buf->data = data;
    buf->pos = 0;
    buf->alloc = grown;
    return BUFFER_OK;
}

int buffer_append(buffer *buf, const void *bytes, size_t length)
{
    int rc = buffer_reserve(buf, length);
    if (rc != BUFFER_OK)
        return rc;
    if (length > 0)
        memcpy(buffer_tail(buf), bytes, length);
    buf->size += length;
    return BUFFER_OK;
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
