// Every manual page lints clean, and the options it lists are the options its
// program accepts.
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <unistd.h>

namespace
{

// How a program takes its options, and so how its page is held against it.
enum Check {
    GETOPT,  // every letter probed
    WORDS,   // whole-word options (treecycle); its usage line gives the operands
    USAGE,   // no options; the synopsis is the usage line it prints
    NOTHING, // no options, no usage line: a leading '-' is not refused
    HELP,    // the runner: the options its --help lists
};

struct Page {
    const char *name;
    Check check;
};

const Page pages[] = {
    {"volaudit", USAGE},      {"treecycle", WORDS},     {"diskhammer", GETOPT},
    {"targetscan", USAGE},    {"netsink", GETOPT},      {"txpace", GETOPT},
    {"rxpace", GETOPT},       {"porttalk", GETOPT},     {"portlisten", GETOPT},
    {"lineclose-tx", GETOPT}, {"lineclose-rx", GETOPT}, {"lanetx", GETOPT},
    {"lanerx", GETOPT},       {"reelflood", GETOPT},    {"reelcheck", GETOPT},
    {"argpairs", NOTHING},    {"bodypairs", NOTHING},   {"mediaquery", USAGE},
    {"epochnow", NOTHING},    {"qualrun", HELP},        {"blockpeer", GETOPT},
};

void PrintTo(const Page &p, std::ostream *os)
{
    *os << p.name;
}

const char mandoc[] = "/usr/bin/mandoc";

std::string page_path(const std::string &name)
{
    return std::string(SUITE_SOURCE_DIR) + "/man/" + name + ".8";
}

// The options named by the ".It Fl ..." items of the OPTIONS section: "-b",
// "--only", "-nofsck".
std::set<std::string> listed_options(const std::string &source)
{
    std::set<std::string> opts;
    bool in_options = false;
    for (const std::string &line : split_lines(source)) {
        if (line.rfind(".Sh ", 0) == 0) in_options = line == ".Sh OPTIONS";
        if (!in_options || line.rfind(".It ", 0) != 0) continue;
        std::istringstream words(line.substr(4));
        std::string w, dashes;
        while (words >> w) {
            if (w == "Fl") {
                dashes += "-";
            } else if (!dashes.empty()) {
                opts.insert(dashes + w);
                dashes.clear();
            }
        }
    }
    return opts;
}

std::string squeeze(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (isspace((unsigned char)c)) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// A command line in one form: no angle brackets, no blanks inside square
// ones, option groups "[-x ...]" left out, blanks squeezed.
std::string operands(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size() && i != std::string::npos; i++) {
        size_t next = text.find_first_not_of(' ', i + 1);
        if (text[i] == '[' && next != std::string::npos && text[next] == '-')
            i = text.find(']', i);
        else if (text[i] != '<' && text[i] != '>')
            out += text[i];
    }
    out = squeeze(out);
    for (std::string from : {"[ ", " ]"})
        for (size_t p; (p = out.find(from)) != std::string::npos;)
            out.erase(p + (from[0] == '['), 1);
    return out;
}

// The SYNOPSIS as mandoc renders it, overstriking removed.
std::string rendered_synopsis(const std::string &name)
{
    RunResult r = run_program(mandoc, {"-T", "ascii", "-O", "width=400", page_path(name)});
    std::string plain;
    for (size_t i = 0; i < r.out.size(); i++)
        if (i + 1 >= r.out.size() || r.out[i + 1] != '\b')
            plain += r.out[i];
        else
            i++;
    std::string synopsis;
    bool in = false;
    for (const std::string &line : split_lines(plain)) {
        if (!line.empty() && line[0] != ' ')
            in = line == "SYNOPSIS";
        else if (in)
            synopsis += line + " ";
    }
    return squeeze(synopsis);
}

// The program run as the probes need it: in a scratch directory, input from
// /dev/null, none of the variables that make a program start its work, and
// its own name where it prints its path.
RunResult run_inert(const std::string &name, const std::vector<std::string> &args)
{
    TempDir scratch("man");
    RunOptions o;
    o.cwd = scratch.path;
    o.unset = {"RUNTIME", "RUNPRD", "CONTENT_LENGTH"};
    o.timeout_s = 10;
    std::vector<std::string> argv = {"-c", "exec \"$0\" \"$@\" </dev/null", bin_path(name)};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = run_program("/bin/sh", argv, o);
    for (std::string *s : {&r.out, &r.err})
        for (size_t p; (p = s->find(bin_path(name))) != std::string::npos;)
            s->replace(p, bin_path(name).size(), name);
    return r;
}

// What follows "Usage:" on the line that holds it.
std::string usage_line(const RunResult &r)
{
    for (const std::string &line : split_lines(r.out + r.err))
        if (size_t p = line.find("Usage:"); p != std::string::npos) return line.substr(p + 6);
    return "(no usage line)";
}

class ManPage : public testing::TestWithParam<Page>
{
};

TEST_P(ManPage, LintsCleanAndListsWhatItsProgramAccepts)
{
    const Page &page = GetParam();
    if (access(mandoc, X_OK) != 0)
        GTEST_SKIP() << "mandoc is not installed (Debian package mandoc)";
    RunResult lint = run_program(mandoc, {"-T", "lint", "-W", "warning", page_path(page.name)});
    EXPECT_TRUE(lint.exited && lint.status == 0 && lint.out.empty() && lint.err.empty())
        << lint.out << lint.err;

    std::set<std::string> listed = listed_options(read_file(page_path(page.name)));
    if (page.check == HELP) {
        RunResult r =
            run_program(std::string(SUITE_SOURCE_DIR) + "/runner/" + page.name, {"--help"});
        std::set<std::string> accepted;
        std::string help = r.out.substr(std::min(r.out.find("\noptions:"), r.out.size()));
        for (const std::string &line : split_lines(help)) {
            std::istringstream words(line);
            for (std::string w; words >> w;)
                if (w.size() > 1 && w[0] == '-' && (isalnum((unsigned char)w[1]) || w[1] == '-'))
                    accepted.insert(w.back() == ',' ? w.substr(0, w.size() - 1) : w);
        }
        EXPECT_EQ(listed, accepted);
        return;
    }

    ASSERT_EQ(access(bin_path(page.name).c_str(), X_OK), 0)
        << page.name << " is not built in " << SUITE_BIN_DIR << ": its page cannot be checked";
    switch (page.check) {
    case GETOPT: {
        // -x -Z -Z: no program takes -Z, so a flag x stops at the first -Z, an
        // x with a value eats it and stops at the second, and an unknown x is
        // refused by getopt itself.
        std::set<std::string> accepted;
        for (char x :
             std::string("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789")) {
            std::string opt = std::string("-") + x;
            RunResult r = run_inert(page.name, {opt, "-Z", "-Z"});
            ASSERT_TRUE(r.exited) << page.name << " " << opt
                                  << " -Z -Z did not stop at the bad option";
            EXPECT_NE(r.status, 0) << page.name << " " << opt << " -Z -Z";
            if (!contains(r.err, "invalid option -- '" + std::string(1, x) + "'"))
                accepted.insert(opt);
        }
        EXPECT_EQ(listed, accepted);
        break;
    }
    case WORDS: {
        // Candidates: the page's words and every option-like text in the
        // program; each is offered with a value that no option takes.
        std::set<std::string> candidates = listed, accepted;
        std::string binary = read_file(bin_path(page.name));
        std::string text;
        for (char c : binary) {
            if (c != '\0') {
                text += c;
                continue;
            }
            if (text.size() > 1 && text[0] == '-' &&
                text.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", 1) == std::string::npos)
                candidates.insert(text);
            text.clear();
        }
        for (const std::string &w : candidates) {
            RunResult r = run_inert(page.name, {w, "-Z"});
            ASSERT_TRUE(r.exited && r.status != 0) << page.name << " " << w << " -Z";
            if (!contains(r.err, "Unknown option, '" + w + "'")) accepted.insert(w);
        }
        EXPECT_EQ(listed, accepted);
        EXPECT_EQ(operands(usage_line(run_inert(page.name, {}))),
                  operands(rendered_synopsis(page.name)));
        break;
    }
    case USAGE:
        EXPECT_EQ(listed, std::set<std::string>{});
        EXPECT_EQ(operands(usage_line(run_inert(page.name, {}))),
                  operands(rendered_synopsis(page.name)));
        break;
    case NOTHING: {
        EXPECT_EQ(listed, std::set<std::string>{});
        RunResult r = run_inert(page.name, {"-Z"});
        EXPECT_TRUE(r.exited && r.status == 0 && r.err.empty()) << r.err;
        break;
    }
    case HELP: break;
    }
}

INSTANTIATE_TEST_SUITE_P(All, ManPage, testing::ValuesIn(pages), [](const auto &info) {
    std::string n = info.param.name;
    for (char &c : n)
        if (c == '-') c = '_';
    return n;
});

TEST(ManPages, EveryPageIsCheckedAndInstalledInSection8)
{
    std::set<std::string> in_tree, in_table;
    for (const auto &e :
         std::filesystem::directory_iterator(std::string(SUITE_SOURCE_DIR) + "/man"))
        if (e.path().extension() == ".8") in_tree.insert(e.path().stem());
    for (const Page &p : pages) in_table.insert(p.name);
    EXPECT_EQ(in_tree, in_table);

    TempDir prefix("install");
    std::string out;
    ASSERT_EQ(shell(std::string(CMAKE_COMMAND_PATH) + " --install " + SUITE_BUILD_DIR +
                        " --prefix " + prefix.path + " 2>&1",
                    &out),
              0)
        << out;
    for (const Page &p : pages)
        EXPECT_TRUE(file_exists(prefix / ("share/man/man8/" + std::string(p.name) + ".8.gz")))
            << p.name;
}

} // namespace
