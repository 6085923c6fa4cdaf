// Fuzz target for bodypairs' decoding path: an arbitrary body with an
// arbitrary CONTENT_LENGTH (the first two bytes, near the body's length or far
// from it).
#include "formpairs/pairs.h"
#include "tests/fuzz/fuzz.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

static std::string decode(const std::string &body, long long cl, long long *used)
{
    std::string data = body.empty() ? std::string(1, 'x') : body;
    FILE *in = fmemopen(data.data(), data.size(), "r");
    if (!in) abort();
    if (body.empty()) fgetc(in); // an empty stream
    long long start = ftell(in);
    std::string out = fuzz_output([&](FILE *f) { decode_body(in, cl, f); });
    *used = ftell(in) - start;
    fclose(in);
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2) return 0;
    std::string body(reinterpret_cast<const char *>(data) + 2, size - 2);
    long long n = static_cast<long long>(body.size());
    long long cl;
    switch (data[0] & 3) {
    case 0: cl = n; break;
    case 1: cl = n - data[1]; break;
    case 2: cl = n + data[1]; break;
    default: cl = static_cast<int8_t>(data[1]) * 1000003LL; break;
    }
    long long used;
    std::string out = decode(body, cl, &used);

    // Exactly CONTENT_LENGTH bytes are taken, or all there is.
    long long want = cl <= 0 ? 0 : cl < n ? cl : n;
    if (used != want) {
        fprintf(stderr, "CONTENT_LENGTH %lld, body %lld: read %lld\n", cl, n, used);
        abort();
    }
    // A body without NUL, given its length, decodes as the same query does.
    if (cl == n && body.find('\0') == std::string::npos) {
        if (out != fuzz_output([&](FILE *f) { decode_query(body.c_str(), f); })) {
            fprintf(stderr, "body and query decode differently\n");
            abort();
        }
    }
    return 0;
}
