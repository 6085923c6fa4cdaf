// Fuzz target for the string module: each operation on an arbitrary string,
// checked against what it must leave behind.
#include "formpairs/words.h"
#include "tests/fuzz/fuzz.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

// A heap copy of exactly the string and its terminator, so that any read or
// write past the end is caught.
static char *exact_copy(const std::string &s)
{
    char *p = static_cast<char *>(malloc(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

static void check_makeword(const std::string &line, char stop)
{
    char *buf = exact_copy(line);
    char *word = makeword(buf, stop);
    size_t at = stop ? line.find(stop) : std::string::npos;
    if (at == std::string::npos) {
        CHECK(line == word);
        CHECK(buf[0] == '\0');
    } else {
        CHECK(line.substr(0, at) == word);
        CHECK(line.substr(at + 1) == buf);
    }
    free(word);
    free(buf);
}

static void check_fmakeword(const std::string &body, char stop, long long cl)
{
    std::string data = body.empty() ? std::string(1, 'x') : body;
    FILE *f = fmemopen(data.data(), data.size(), "r");
    CHECK(f);
    if (body.empty()) fgetc(f); // an empty stream
    long long start = ftell(f);
    long long before = cl;
    char *word = fmakeword(f, stop, &cl);
    long long used = ftell(f) - start;
    CHECK(used == before - cl || (before <= 0 && used == 0));
    if (before <= 0) {
        CHECK(used == 0 && cl == before);
    } else {
        CHECK(cl >= 0);
        std::string got = data.substr(start, used);
        bool stopped = used > 0 && got.back() == stop;
        if (stopped) got.pop_back();
        // The word holds what was read, the stop character excepted.
        CHECK(memcmp(word, got.data(), got.size()) == 0 && word[got.size()] == '\0');
        CHECK(got.find(stop) == std::string::npos);
        CHECK(stopped || cl == 0 || used == static_cast<long long>(data.size()) - start);
    }
    free(word);
    fclose(f);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    char stop = static_cast<char>(data[0]);
    long long cl = static_cast<long long>(data[1]) - 8;
    std::string raw(reinterpret_cast<const char *>(data) + 2, size - 2);
    std::string line(raw.c_str()); // as a string, it ends at the first NUL

    check_makeword(line, stop);

    char *buf = exact_copy(line);
    plustospace(buf);
    CHECK(strlen(buf) == line.size() && !strchr(buf, '+'));
    for (size_t i = 0; i < line.size(); ++i) CHECK(buf[i] == (line[i] == '+' ? ' ' : line[i]));
    free(buf);

    // Decoding never lengthens, and leaves a string without escapes alone.
    buf = exact_copy(line);
    unescape_url(buf);
    CHECK(strlen(buf) <= line.size());
    CHECK(line.find('%') != std::string::npos || line == buf);
    free(buf);

    if (line.size() >= 2) {
        unsigned char c = static_cast<unsigned char>(x2c(line.c_str()));
        if (isxdigit(static_cast<unsigned char>(line[0])) &&
            isxdigit(static_cast<unsigned char>(line[1])))
            CHECK(c == strtoul(line.substr(0, 2).c_str(), nullptr, 16));
    }

    check_fmakeword(raw, stop, cl);
    return 0;
}
