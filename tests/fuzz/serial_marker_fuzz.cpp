// The serial receivers' loop on any stream: blocks of 30 bytes, each read
// within a block, until end of file or the end marker, the last "!" of the
// read that holds one. Fed through a pipe holding the whole input, every read
// gets the rest of its block, so what is counted and captured follows from
// the input alone.
#include "serial/serial.h"
#include "tests/fuzz/fuzz.h"

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 60000) return 0; // within what a pipe holds
    int p[2];
    CHECK(pipe(p) == 0);
    CHECK(write(p[1], data, size) == (ssize_t)size);
    close(p[1]);
    int capture = memfd_create("capture", 0);
    Run run;
    run.fd = p[0];
    Ending end = receive_blocks(run, {capture, {}, {}, false});
    close(p[0]);
    std::string got(lseek(capture, 0, SEEK_CUR), '\0');
    CHECK(pread(capture, got.data(), got.size(), 0) == (ssize_t)got.size());
    close(capture);

    // The model: whole blocks captured with a line end; at the first block
    // that holds a "!", the bytes before its last "!" and a line end.
    std::string want;
    size_t counted = 0;
    Ending model = AT_EOF;
    for (size_t b = 0; b < size; b += BLOCK) {
        std::string block((const char *)data + b, std::min((size_t)BLOCK, size - b));
        size_t bang = block.rfind('!');
        if (bang != std::string::npos) {
            want += block.substr(0, bang) + "\n";
            counted += bang;
            model = AT_MARKER;
            break;
        }
        want += block + (block.size() == BLOCK ? "\n" : "");
        counted += block.size();
    }
    CHECK(end == model);
    CHECK((size_t)run.cnt == counted);
    CHECK(got == want);
    return 0;
}
