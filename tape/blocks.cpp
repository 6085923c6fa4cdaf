#include "tape/blocks.h"

#include <cstdlib>

bool block_size_ok(int blocksize_kb)
{
    return blocksize_kb > 0 && blocksize_kb <= MAX_BLOCK_KB;
}

long long block_limit(int blocksize_kb, int megabytes)
{
    return (long long)(1024 / blocksize_kb) * megabytes;
}

unsigned char *pattern_alloc(long long block_bytes)
{
    auto *table = static_cast<unsigned char *>(malloc(block_bytes + 255));
    if (table)
        for (long long i = 0; i < block_bytes + 255; i++) table[i] = (unsigned char)i;
    return table;
}

const unsigned char *pattern_block(const unsigned char *table, long long n)
{
    return table + (n & 255);
}

double megabytes_of(long long bytes)
{
    return (double)bytes / 1048576;
}
