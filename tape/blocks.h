// What reelflood and reelcheck agree on: the block pattern, the block limit
// and the block sizes they accept.
//
// Byte i of block n (counted from 1) holds (n + i) mod 256. The pattern of
// block n is the run of bytes starting at offset n mod 256 of one table that
// counts 0, 1, ..., 255, 0, 1, ... over the block size plus 255 bytes, so no
// block is ever filled byte by byte: a drive streaming hundreds of MB/s must
// not wait for the pattern.
#pragma once

// Block sizes in kilobytes: positive, and the byte count fits an int.
constexpr int MAX_BLOCK_KB = 2097151;

bool block_size_ok(int blocksize_kb);

// (1024 / blocksize) x megabytes, the division first; 0 or less is no limit.
// In 64 bits: an int wraps for -b 1 -s 3000000 and would lift the limit.
long long block_limit(int blocksize_kb, int megabytes);

// The pattern table for blocks of block_bytes (malloc'd), or nullptr.
unsigned char *pattern_alloc(long long block_bytes);
// Block n's pattern, block_bytes long, inside the table.
const unsigned char *pattern_block(const unsigned char *table, long long n);

// Megabytes (1048576 bytes) of a byte count, for the totals.
double megabytes_of(long long bytes);
