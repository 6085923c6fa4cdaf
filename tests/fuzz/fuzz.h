// What the fuzz targets share: a property check that aborts (libFuzzer then
// keeps the input), and a way through code that ends the process on bad
// input: with -Wl,--wrap=exit an exit() throws fuzz_exit, which the target
// catches and judges.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#define CHECK(c)                                                                                   \
    do {                                                                                           \
        if (!(c)) {                                                                                \
            fprintf(stderr, "check failed: %s\n", #c);                                             \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// Runs f, which may end the process on bad input: the status it gave to
// exit(), or -1 when f returned. The target is linked with -Wl,--wrap=exit.
// The C library declares exit as never throwing, so the frames the exit
// unwinds skip their destructors: a target whose inputs end that way runs
// without the leak check (a first comment line "// No leak check").
int fuzz_call(const std::function<void()> &f);

// What write puts on the stream it is given.
std::string fuzz_output(const std::function<void(FILE *)> &write);

// The input cut into words at NUL bytes and newlines, as a command line
// would bring them (argument zero first).
std::vector<std::string> fuzz_words(const uint8_t *data, size_t size, const char *argv0);
// argv pointers into words, null-terminated.
std::vector<char *> fuzz_argv(std::vector<std::string> &words);
