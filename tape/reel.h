// What reelflood and reelcheck agree on: the command line, the drive, the
// block pattern and the totals that end a run.
//
// Byte i of block n (counted from 1) holds (n + i) mod 256. The pattern of
// block n is the run of bytes starting at offset n mod 256 of one table that
// counts 0, 1, ..., 255, 0, 1, ... over the block size plus 255 bytes, so no
// block is ever filled byte by byte: a drive streaming hundreds of MB/s must
// not wait for the pattern.
#pragma once

struct Tape {
    int fd;          // the drive, open read-write
    long long limit; // blocks to transfer; 0 or less: to the end
    long long bsize; // bytes a block
};
// Reads the options "b:d:ns:" (block size in KB, device, no rewind, length in
// MB), opens the device and rewinds it unless -n. A bad option, a leftover
// argument or a block size that is not positive or above 2097148 KB (more than
// one read or write moves) prints usage_text on standard error; an open or
// rewind that fails is reported with the device's path; both exit 1.
Tape open_tape(int argc, char **argv, const char *usage_text);

// The pattern table for blocks of block_bytes (malloc'd), or nullptr.
unsigned char *pattern_alloc(long long block_bytes);
// Block n's pattern, block_bytes long, inside the table.
const unsigned char *pattern_block(const unsigned char *table, long long n);

// Prints "%lld blocks" with n (none when n < 0) and the total of bytes in
// megabytes on standard output, and exits with status.
[[noreturn]] void report_end(long long n, long long bytes, int status);
