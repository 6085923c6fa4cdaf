// The SCSI answer decoders on any answer, each buffer zero-filled past what
// "the device" sent, as the driver leaves it. The first byte chooses: 'c'
// READ CAPACITY, 'i' INQUIRY, anything else MODE SENSE with the next byte as
// the device type and the rest cut in four views (current, changeable,
// default, saved). Nothing is read outside the buffers.
#include "targetscan/targetscan.h"
#include "tests/fuzz/fuzz.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    // A heap copy of exactly the buffer size, so that a read past it is caught.
    std::vector<unsigned char> answer(SCSI_BUFFER_SIZE);
    memcpy(answer.data(), data + 1, std::min(size - 1, answer.size()));
    if (data[0] == 'c') {
        print_capacity(answer.data());
    } else if (data[0] == 'i') {
        CHECK(print_inquiry(answer.data()) == (answer[0] & 0x1f));
    } else {
        size_t part = (size - 2) / 4;
        unsigned char *views[] = {bcur, bchg, bdef, bsav};
        for (int i = 0; i < 4; i++) {
            memset(views[i], 0, SCSI_BUFFER_SIZE);
            memcpy(views[i], data + 2 + i * part, std::min(part, (size_t)SCSI_BUFFER_SIZE));
        }
        print_mode_data(data[1] & 0x1f);
    }
    return 0;
}
