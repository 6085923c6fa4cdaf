#include "tests/targetscan/modedata.h"

#include "targetscan/targetscan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>

std::string capture_stdout(const std::function<void()> &f)
{
    fflush(stdout);
    FILE *scratch = tmpfile();
    if (scratch == nullptr) return "<no scratch file>";
    int saved = dup(1);
    dup2(fileno(scratch), 1);
    f();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::string text;
    rewind(scratch);
    int c;
    while ((c = fgetc(scratch)) != EOF) text += (char)c;
    fclose(scratch);
    return text;
}

Bytes page(uint8_t code, const Bytes &body)
{
    Bytes p{code, (uint8_t)body.size()};
    p.insert(p.end(), body.begin(), body.end());
    return p;
}

Bytes mode_answer(const std::vector<Bytes> &pages, uint8_t medium, uint8_t device_specific,
                  uint32_t blocks, uint32_t block_length)
{
    Bytes a{0,
            medium,
            device_specific,
            8,
            0,
            (uint8_t)(blocks >> 16),
            (uint8_t)(blocks >> 8),
            (uint8_t)blocks,
            0,
            (uint8_t)(block_length >> 16),
            (uint8_t)(block_length >> 8),
            (uint8_t)block_length};
    for (const Bytes &p : pages) a.insert(a.end(), p.begin(), p.end());
    a[0] = (uint8_t)(a.size() - 1);
    return a;
}

void load_all(const Bytes &answer)
{
    load_four(answer, answer, answer, answer);
}

void load_four(const Bytes &cur, const Bytes &chg, const Bytes &def, const Bytes &sav)
{
    // As a request leaves them: zero-filled past the answer.
    unsigned char *const buffers[4] = {bcur, bchg, bdef, bsav};
    const Bytes *answers[4] = {&cur, &chg, &def, &sav};
    for (int i = 0; i < 4; i++) {
        memset(buffers[i], 0, SCSI_BUFFER_SIZE);
        memcpy(buffers[i], answers[i]->data(), std::min(answers[i]->size(), (size_t)SCSI_BUFFER_SIZE));
    }
}

Bytes read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
