// treecycle's command line on any words: the option handling and the
// cardinal and time parsers. An error ends the run with status 1 and nothing
// else; what is accepted fits an int.
// No leak check: an exit() unwound by fuzz_call skips the destructors of the
// frames it leaves (the C library declares exit as never throwing).
#include "libsupport/support.h"
#include "tests/fuzz/fuzz.h"
#include "tests/support/libstate.h"
#include "treecycle/treecycle.h"

#include <cctype>
#include <climits>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reset_libsupport("treecycle");
    settings s;
    std::vector<std::string> words = fuzz_words(data, size, "treecycle");
    std::vector<char *> argv = fuzz_argv(words);
    int argc = (int)words.size(), first = 0, unknown = 0;
    int status = fuzz_call([&] { first = parse_options(argc, argv.data(), s, &unknown); });
    CHECK(status == -1 || status == 1);
    if (status == -1) CHECK(first >= 1 && first <= argc && unknown >= 0 && s.disk_reserve >= 0);
    for (const std::string &w : words) {
        int seconds = -1;
        if (parse_time(w.c_str(), &seconds)) CHECK(seconds >= 0 && seconds <= INT_MAX);
        if (iscardinal(w.c_str())) {
            CHECK(w.find_first_of("0123456789") != std::string::npos);
            for (char c : w) CHECK(isdigit((unsigned char)c) || isspace((unsigned char)c));
        }
        int value = -1;
        status = fuzz_call([&] { value = get_cardinal_argument("-disk-reserve", w.c_str()); });
        CHECK(status == 1 || (status == -1 && value >= 0 && iscardinal(w.c_str())));
    }
    return 0;
}
