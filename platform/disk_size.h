// Raw disk slices: their node type, size, block size and exclusive opening.
//
// The programs rely on: `RAW_SLICE_TYPE`, the file-type bits of a node that
// names a raw slice (a block device here; Linux has no raw character nodes
// for disks); `disk_size`, the size of the slice itself in bytes (0 with the
// count set, -1 with errno set when the device refuses the request);
// `disk_block_size`, the smallest transfer and alignment the slice accepts
// for raw I/O (at least 512); `raw_open`, which opens a slice for raw I/O
// (bypassing the cache, so transfers and buffers must be multiples of the
// block size and aligned to it) and fails with EBUSY when the slice is in
// use (mounted under any name, swap, a member of a volume or array, or held
// exclusively by another program); `raw_alloc`, a zero-filled buffer aligned
// for raw I/O, or nullptr.
#pragma once
#include <cstddef>
#include <sys/stat.h>

extern const mode_t RAW_SLICE_TYPE;

int disk_size(int fd, long long *bytes);
int disk_block_size(int fd);
int raw_open(const char *path, int flags);
void *raw_alloc(size_t bytes);
