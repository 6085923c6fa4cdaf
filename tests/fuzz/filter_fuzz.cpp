// The checker-report filter on any report: it never ends the process (its
// rule table is sound), and without an awaited rule (exit code 0) a report
// with a NUL byte in it never passes, since such a line is judged whole.
#include "fscheck/fscheck.h"
#include "tests/fuzz/fuzz.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const char dev[] = "/dev/rdsk/c0t0d0s0", mnt[] = "/export";
    if (size == 0) return 0;
    int code = data[0] == '6' ? 36 : 0; // the first byte chooses the checker's exit code
    init_expect(dev, mnt, code);
    FILE *f = fmemopen((void *)(data + 1), size - 1, "r");
    if (!f) return 0;
    int result = 0;
    CHECK(fuzz_call([&] { result = filter_stream(f, dev, mnt); }) == -1);
    fclose(f);
    if (code == 0 && memchr(data + 1, 0, size - 1)) CHECK(result == 0);
    return 0;
}
