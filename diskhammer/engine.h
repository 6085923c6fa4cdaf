// The I/O engines: how one transfer of a test pass is made. The pass loop
// runs the selected engines in table order and hands each child its engine,
// which the child calls once per chunk; the engine returns what the transfer
// returned (-1 with errno set on failure).
#pragma once
#include <sys/types.h>

struct Settings;

struct io_engine {
    const char *name;        // the final report's heading
    const char *write_label; // the write progress line's start
    const char *read_label;  // the read progress line
    ssize_t (*write)(int fd, const void *buf, size_t len, off_t offset);
    ssize_t (*read)(int fd, void *buf, size_t len, off_t offset);
};

extern const io_engine regular_engine; // read/write at the file position
extern const io_engine locked_engine;  // the same inside lockf
extern const io_engine async_engine;   // aioread/aiowrite at the offset, then aiowait

// By engine number: 0 regular, 1 record-locked, 2 asynchronous (engines.cpp).
enum { ENGINE_COUNT = 3 };
extern const io_engine *const engines[ENGINE_COUNT];
// Whether the command line chose the engine (-R, -L, -A).
bool engine_selected(const Settings &set, int engine);
