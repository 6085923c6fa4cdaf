#include "tests/fuzz/fuzz.h"

namespace
{
struct fuzz_exit {
    int status;
};
bool in_call; // exit() inside fuzz_call comes back as fuzz_exit; the fuzzer's own does not
} // namespace

extern "C" [[noreturn]] void __real_exit(int status);

extern "C" [[noreturn]] void __wrap_exit(int status)
{
    if (!in_call) __real_exit(status);
    fflush(nullptr);
    throw fuzz_exit{status};
}

int fuzz_call(const std::function<void()> &f)
{
    in_call = true;
    int status = -1;
    try {
        f();
    } catch (const fuzz_exit &e) {
        status = e.status;
    }
    in_call = false;
    return status;
}

std::string fuzz_output(const std::function<void(FILE *)> &write)
{
    char *out = nullptr;
    size_t out_size = 0;
    FILE *f = open_memstream(&out, &out_size);
    if (!f) abort();
    write(f);
    fclose(f);
    std::string r(out, out_size);
    free(out);
    return r;
}

std::vector<std::string> fuzz_words(const uint8_t *data, size_t size, const char *argv0)
{
    std::vector<std::string> words{argv0};
    std::string w;
    for (size_t i = 0; i <= size; i++) {
        if (i == size || data[i] == '\0' || data[i] == '\n') {
            words.push_back(w);
            w.clear();
        } else {
            w += (char)data[i];
        }
    }
    return words;
}

std::vector<char *> fuzz_argv(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    for (auto &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return argv;
}
