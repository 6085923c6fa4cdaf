// The tape pattern for any block size and block number: byte i of block n is
// (n + i) mod 256, and a block read back is found good exactly when it is.
#include "tape/reel.h"
#include "tests/fuzz/fuzz.h"

#include <climits>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 10) return 0;
    long long n, bsize = 1 + (data[8] | data[9] << 8); // 1 to 65536 bytes
    memcpy(&n, data, sizeof n);
    if (n < 1) n = n == LLONG_MIN ? 1 : -n;
    unsigned char *table = pattern_alloc(bsize);
    CHECK(table);
    const unsigned char *block = pattern_block(table, n);
    for (long long i = 0; i < bsize; i++) CHECK(block[i] == (unsigned char)((n & 255) + i));
    // The rest of the input as the block read back.
    std::string read((const char *)data + 10, size - 10);
    read.resize(bsize);
    bool same = true;
    for (long long i = 0; i < bsize; i++) same = same && (unsigned char)read[i] == block[i];
    CHECK((memcmp(read.data(), block, bsize) == 0) == same);
    free(table);
    return 0;
}
