// The request body on standard input: its length and a stream that stops there.
#include "formpairs/pairs.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

long long content_length(const char *value)
{
    if (!value) return 0;
    return strtoll(value, nullptr, 10);
}

struct body_source {
    int fd;
    long long left;
};

static ssize_t body_read(void *cookie, char *buf, size_t size)
{
    auto *src = static_cast<body_source *>(cookie);
    if (src->left <= 0) return 0;
    if (static_cast<unsigned long long>(src->left) < size) size = static_cast<size_t>(src->left);
    ssize_t n;
    do n = read(src->fd, buf, size);
    while (n < 0 && errno == EINTR);
    if (n > 0) src->left -= n;
    return n;
}

static int body_close(void *cookie)
{
    delete static_cast<body_source *>(cookie);
    return 0;
}

FILE *open_body(int fd, long long limit)
{
    cookie_io_functions_t io{};
    io.read = body_read;
    io.close = body_close;
    auto *src = new body_source{fd, limit};
    FILE *f = fopencookie(src, "r", io);
    if (!f) delete src;
    return f;
}
