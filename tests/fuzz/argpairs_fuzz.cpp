// Fuzz target for argpairs' decoding path: an arbitrary query string, as it
// would arrive in the first argument (which cannot hold a NUL).
#include "formpairs/pairs.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string query(reinterpret_cast<const char *>(data), size);
    query.resize(strlen(query.c_str()));

    char *out = nullptr;
    size_t out_size = 0;
    FILE *f = open_memstream(&out, &out_size);
    if (!f) abort();
    decode_query(query.c_str(), f);
    fclose(f);

    // Without escapes or line feeds every pair gives exactly one line.
    if (query.find_first_of("%\n") == std::string::npos) {
        size_t pairs = 0;
        for (size_t i = 0; i < query.size(); ++i)
            if (query[i] == '&' || i + 1 == query.size()) ++pairs;
        size_t lines = 0;
        for (size_t i = 0; i < out_size; ++i) lines += out[i] == '\n';
        if (lines != pairs) {
            fprintf(stderr, "%zu pairs gave %zu lines\n", pairs, lines);
            abort();
        }
    }
    free(out);
    return 0;
}
