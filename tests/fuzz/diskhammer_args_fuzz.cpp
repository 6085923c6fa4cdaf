// diskhammer's command line on any words: the option handling and the size
// ranges with their units. An error ends the run with status 1 and nothing
// else; an accepted range is 1 <= min <= max.
// No leak check: an exit() unwound by fuzz_call skips the destructors of the
// frames it leaves (the C library declares exit as never throwing).
#include "diskhammer/diskhammer.h"
#include "tests/fuzz/fuzz.h"

#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<std::string> words = fuzz_words(data, size, "diskhammer");
    std::vector<char *> argv = fuzz_argv(words);
    optind = 0; // getopt starts afresh
    Settings set;
    int status = fuzz_call([&] { set = parse_options((int)words.size(), argv.data()); });
    CHECK(status == -1 || status == 1);
    if (status == -1)
        CHECK(1 <= set.min_filesz && set.min_filesz <= set.max_filesz && 1 <= set.min_transz &&
              set.min_transz <= set.max_transz && set.num_tests >= 1);
    for (const std::string &w : words) {
        long long lo = 0, hi = 0;
        status = fuzz_call([&] { parse_min_max(w.c_str(), &lo, &hi); });
        CHECK(status == 1 || (status == -1 && 1 <= lo && lo <= hi));
    }
    return 0;
}
