// Fuzz target for argpairs' decoding path: an arbitrary query string, as it
// would arrive in the first argument (which cannot hold a NUL).
#include "formpairs/pairs.h"
#include "tests/fuzz/fuzz.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string query(reinterpret_cast<const char *>(data), size);
    query.resize(strlen(query.c_str()));

    std::string out = fuzz_output([&](FILE *f) { decode_query(query.c_str(), f); });

    // Without escapes or line feeds every pair gives exactly one line.
    if (query.find_first_of("%\n") == std::string::npos) {
        size_t pairs = 0;
        for (size_t i = 0; i < query.size(); ++i)
            if (query[i] == '&' || i + 1 == query.size()) ++pairs;
        size_t lines = 0;
        for (char c : out) lines += c == '\n';
        if (lines != pairs) {
            fprintf(stderr, "%zu pairs gave %zu lines\n", pairs, lines);
            abort();
        }
    }
    return 0;
}
