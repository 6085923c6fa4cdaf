// argpairs and bodypairs as a web server's caller sees them: the decoding
// table through both programs, CONTENT_LENGTH handling, long pairs, what a
// body leaves of its input, and failures that must not pass for success.
// Under the sanitizers every escape is decoded in a buffer of the pair's own
// size, so a read past a short escape shows.
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

const char *const UNSET = nullptr;

// bodypairs with body on its standard input and CONTENT_LENGTH=length, or
// no CONTENT_LENGTH at all.
RunResult bodypairs(const std::string &body, const char *length)
{
    RunOptions o;
    o.input = body;
    o.unset = {"CONTENT_LENGTH"};
    if (length) o.env = {std::string("CONTENT_LENGTH=") + length};
    return run_program(bin_path("bodypairs"), {}, o);
}

RunResult bodypairs(const std::string &body)
{
    return bodypairs(body, std::to_string(body.size()).c_str());
}

void expect_output(const RunResult &r, const std::string &want, const std::string &what)
{
    EXPECT_TRUE(r.exited && r.status == 0) << what;
    EXPECT_EQ(r.out, want) << what;
    EXPECT_EQ(r.err, "") << what;
}

TEST(FormDecoding, TableThroughBothPrograms)
{
    // clang-format off
    const struct {
        std::string query, want;
    } cases[] = {
        {"a=1&b=2", "a=\"1\"\nb=\"2\"\n"},
        {"first+name%21=Jo+Ann%21", "first name!=\"Jo Ann!\"\n"},
        {"flag&x=1", "flag=\"\"\nx=\"1\"\n"},   // no equals sign
        {"&a=1", "=\"\"\na=\"1\"\n"},          // leading ampersand
        {"a=1&&b=2", "a=\"1\"\n=\"\"\nb=\"2\"\n"},
        {"a=1&", "a=\"1\"\n"},                 // a trailing ampersand adds nothing
        {"", ""},
        {"x%3Dy=z", "x=\"y=z\"\n"},            // decoded before the split
        {"e=a=b", "e=\"a=b\"\n"},
        {"=", "=\"\"\n"},
        {"=v&n=", "=\"v\"\nn=\"\"\n"},
        {"t=one%0Atwo%0athree%0Dfour", "t=\"onetwothree\rfour\"\n"}, // line feeds dropped
        {"t=%0A%0A", "t=\"\"\n"},
        {"t=a\nb", "t=\"a\nb\"\n"},            // a literal line feed stays
        {"h=%4a%4A%c3%C3%ff%FF%Ff%7e%09", "h=\"JJ\xC3\xC3\xFF\xFF\xFF~\t\"\n"},
        {"n=a%00b", "n=\"a\"\n"},                // a decoded NUL ends the value
        {"p=%2B+", "p=\"+ \"\n"},              // '+' first, then the escapes
        {"p=%25%32%31", "p=\"%21\"\n"},        // decoded once, not again
        {"p=%", "p=\"%\"\n"},                  // short escapes stay as they are
        {"p=%4", "p=\"%4\"\n"},
        {"p=%%", "p=\"%%\"\n"},
        {"p=%41%", "p=\"A%\"\n"},
        {"p=%41%4", "p=\"A%4\"\n"},
        {"n%&m=1", "n%=\"\"\nm=\"1\"\n"},
    };
    // clang-format on
    for (auto &c : cases) {
        expect_output(run_program(bin_path("argpairs"), {c.query}), c.want, "argpairs " + c.query);
        expect_output(bodypairs(c.query), c.want, "bodypairs " + c.query);
    }
    expect_output(run_program(bin_path("argpairs"), {}), "", "no argument");
    expect_output(run_program(bin_path("argpairs"), {"a=1", "b=2"}), "a=\"1\"\n", "only the first");
}

// CONTENT_LENGTH is a leading integer; the counter ends the last pair, and
// the character that brings it to 0 is kept unless it is the ampersand. A
// shorter body ends at the end of input, which is no pair of its own.
TEST(Bodypairs, ContentLength)
{
    const std::string ab = "a=\"1\"\nb=\"2\"\n";
    const struct {
        const char *length;
        std::string body, want;
    } cases[] = {
        {"7", "a=1&b=22", ab},
        {"4", "a=1&b=2", "a=\"1\"\n"},
        {"3", "a=1&b=2", "a=\"1\"\n"},
        {" 3", "a=1&b=2", "a=\"1\"\n"},
        {"+3", "a=1&b=2", "a=\"1\"\n"},
        {"3xyz", "a=1&b=2", "a=\"1\"\n"},
        {"3.9", "a=1&b=2", "a=\"1\"\n"},
        {"03", "a=1&b=2", "a=\"1\"\n"},
        {"100", "a=1&b=2", ab},
        {"99999999999999999999999", "a=1&b=2", ab},
        {"100", "a=1&", "a=\"1\"\n"},
        {"100", "a=1&&", "a=\"1\"\n=\"\"\n"},
        {"100", "", ""},
        {UNSET, "a=1", ""},
        {"", "a=1", ""},
        {"0", "a=1", ""},
        {"-1", "a=1", ""},
        {"-99999999999999999999", "a=1", ""},
        {"abc", "a=1", ""},
        {"x7", "a=1", ""},
        {"+0", "a=1", ""},
    };
    for (auto &c : cases)
        expect_output(bodypairs(c.body, c.length), c.want,
                      std::string(c.length ? c.length : "unset") + " " + c.body);
}

// Pairs longer than argpairs' 255 characters and bodypairs' 102400 are read
// whole, escapes and all.
TEST(FormDecoding, LongPairsAreReadWhole)
{
    for (size_t n : {254, 255, 256, 102399, 102400, 102401, 6 << 20}) {
        std::string value;
        for (size_t i = 0; value.size() < n; ++i) value += static_cast<char>('a' + i % 26);
        std::string query = "k=" + value + "&z=%21+", want = "k=\"" + value + "\"\nz=\"! \"\n";
        // An argument holds 128 KiB at the most.
        if (n < 131072) expect_output(run_program(bin_path("argpairs"), {query}), want, "argpairs");
        expect_output(bodypairs(query), want, "bodypairs " + std::to_string(n));
    }
    std::string body, want;
    for (int i = 0; i < 20000; ++i) {
        body += (i ? "&k" : "k") + std::to_string(i) + "=v%2" + std::to_string(i % 10);
        want += "k" + std::to_string(i) + "=\"v" + static_cast<char>(' ' + i % 10) + "\"\n";
    }
    expect_output(bodypairs(body), want, "20000 pairs");
}

// What follows the body stays for the next reader of the same input, through
// a pipe and a file alike; a failed read or write gives status 1.
TEST(FormDecoding, InputLeftAndFailures)
{
    TempDir t;
    write_file(t / "body", "a=1&b=22");
    const std::string arg = bin_path("argpairs"),
                      body = "CONTENT_LENGTH=7 " + bin_path("bodypairs");
    const struct {
        std::string cmd;
        int status;
        std::string out;
    } cases[] = {
        {"printf 'a=1&b=22' | (" + body + "; echo '|'; cat)", 0, "a=\"1\"\nb=\"2\"\n|\n2"},
        {"(" + body + "; echo '|'; cat) < " + t / "body", 0, "a=\"1\"\nb=\"2\"\n|\n2"},
        {body + " 2>&1 < " + t.path, 1, "bodypairs: standard input: Is a directory\n"},
        {arg + " a=1 2>&1 >/dev/full", 1, "argpairs: standard output: No space left on device\n"},
        {"printf a=1 | " + body + " 2>&1 >/dev/full", 1,
         "bodypairs: standard output: No space left on device\n"},
    };
    for (auto &c : cases) {
        std::string out;
        EXPECT_EQ(shell(c.cmd, &out), c.status) << c.cmd;
        EXPECT_EQ(out, c.out) << c.cmd;
    }
}

} // namespace
