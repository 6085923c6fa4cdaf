// netsink's receiver on any stream, with blocks of 285 bytes (three rounds of
// the 95 printable characters) so that short inputs span several: it counts
// the leading blocks that equal the pattern, stops with status 1 at the
// first that does not, and ignores a partial last block.
// No leak check: an exit() unwound by fuzz_call skips the destructors of the
// frames it leaves (the C library declares exit as never throwing).
#include "netsink/netsink.h"
#include "tests/fuzz/fuzz.h"

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 60000) return 0; // within what a socket holds
    Settings set;
    set.buflen = 285;
    const int buflen = set.buflen;
    std::string pattern(buflen, ' ');
    for (int i = 0; i < buflen; i++) pattern[i] = (char)(0x20 + i % 95);
    int s[2];
    CHECK(socketpair(AF_UNIX, SOCK_STREAM, 0, s) == 0);
    CHECK(write(s[1], data, size) == (ssize_t)size);
    shutdown(s[1], SHUT_WR);
    run.cnt = 0;
    int status = fuzz_call([&] { receive_from_client(s[0], pattern.c_str(), set); });
    close(s[0]);
    close(s[1]);
    size_t good = 0;
    while ((good + 1) * buflen <= size && !memcmp(data + good * buflen, pattern.data(), buflen))
        good++;
    bool bad = (good + 1) * buflen <= size; // a whole block that differs
    CHECK(status == (bad ? 1 : -1));
    CHECK(run.cnt == (long)good);
    return 0;
}
