// The block pattern.
#include "tape/reel.h"

#include <cstdlib>

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
