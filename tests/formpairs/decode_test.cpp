// argpairs and bodypairs as a web server's caller sees them: the decoding
// table through both programs, CONTENT_LENGTH handling, long pairs, and
// failures that must not pass for success.
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

struct Case {
    const char *what;
    std::string query;
    std::string want;
};

const std::vector<Case> decoding = {
    {"two pairs in order", "a=1&b=2", "a=\"1\"\nb=\"2\"\n"},
    {"plus and escape in names and values", "first+name%21=Jo+Ann%21", "first name!=\"Jo Ann!\"\n"},
    {"pair without equals sign", "flag&x=1", "flag=\"\"\nx=\"1\"\n"},
    {"leading ampersand", "&a=1", "=\"\"\na=\"1\"\n"},
    {"doubled ampersands", "a=1&&b=2", "a=\"1\"\n=\"\"\nb=\"2\"\n"},
    {"trailing ampersand", "a=1&", "a=\"1\"\n"},
    {"empty query", "", ""},
    {"escaped equals sign in a name", "x%3Dy=z", "x=\"y=z\"\n"},
    {"escaped line feed dropped, carriage return kept", "t=one%0Atwo%0Dthree",
     "t=\"onetwo\rthree\"\n"},
    {"lower- and upper-case hex alike", "h=%4a%4A%c3%C3", "h=\"JJ\xC3\xC3\"\n"},
    {"equals signs after the first stay in the value", "e=a=b", "e=\"a=b\"\n"},
    {"empty name and value", "=", "=\"\"\n"},
    {"a trailing percent", "p=%", "p=\"%\"\n"},
    {"percent and one digit", "p=%4", "p=\"%4\"\n"},
    {"two percent signs", "p=%%", "p=\"%%\"\n"},
    {"percent last in a name", "n%&m=1", "n%=\"\"\nm=\"1\"\n"},
};

RunResult argpairs(const std::vector<std::string> &args)
{
    return run_program(bin_path("argpairs"), args);
}

RunResult bodypairs(const std::string &body, const std::vector<std::string> &env)
{
    RunOptions o;
    o.input = body;
    o.env = env;
    o.unset = {"CONTENT_LENGTH"};
    return run_program(bin_path("bodypairs"), {}, o);
}

RunResult bodypairs(const std::string &body)
{
    return bodypairs(body, {"CONTENT_LENGTH=" + std::to_string(body.size())});
}

void expect_output(const RunResult &r, const std::string &want, const std::string &what)
{
    EXPECT_TRUE(r.exited) << what;
    EXPECT_EQ(r.status, 0) << what;
    EXPECT_EQ(r.out, want) << what;
    EXPECT_EQ(r.err, "") << what;
}

TEST(FormDecoding, TableThroughArgpairs)
{
    for (auto &c : decoding) expect_output(argpairs({c.query}), c.want, c.what);
}

TEST(FormDecoding, TableThroughBodypairs)
{
    for (auto &c : decoding) expect_output(bodypairs(c.query), c.want, c.what);
}

TEST(Argpairs, NoArgumentPrintsNothingAndOnlyTheFirstCounts)
{
    expect_output(argpairs({}), "", "no argument");
    expect_output(argpairs({"a=1", "b=2"}), "a=\"1\"\n", "two arguments");
}

TEST(Argpairs, LongPairsAreReadWhole)
{
    for (size_t n : {size_t(254), size_t(255), size_t(256), size_t(300), size_t(100000)}) {
        std::string value(n - 2, 'v');
        value[0] = 'A';
        value.back() = 'Z';
        std::string q = "k=" + value;
        ASSERT_EQ(q.size(), n);
        expect_output(argpairs({q + "&next=1"}), "k=\"" + value + "\"\nnext=\"1\"\n",
                      std::to_string(n) + " characters");
    }
    // Escapes decode across the whole of a long pair.
    std::string q = std::string(299, 'n') + "=" + std::string(150, 'x') + "%21";
    expect_output(argpairs({q}), std::string(299, 'n') + "=\"" + std::string(150, 'x') + "!\"\n",
                  "escaped long pair");
}

TEST(Bodypairs, ContentLengthSevenTakesSevenBytesAndLeavesTheRest)
{
    // The byte after the body stays for the next reader of the same input,
    // through a pipe and through a file alike.
    TempDir t;
    write_file(t / "body", "a=1&b=22");
    std::string prog = bin_path("bodypairs");
    std::string out;
    int st = shell("printf 'a=1&b=22' | (CONTENT_LENGTH=7 " + prog + "; echo '|'; cat)", &out);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(out, "a=\"1\"\nb=\"2\"\n|\n2");
    st = shell("(CONTENT_LENGTH=7 " + prog + "; echo '|'; cat) < " + t / "body", &out);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(out, "a=\"1\"\nb=\"2\"\n|\n2");
}

TEST(Bodypairs, BodyShorterThanContentLength)
{
    expect_output(bodypairs("a=1&b=2", {"CONTENT_LENGTH=100"}), "a=\"1\"\nb=\"2\"\n", "short");
    expect_output(bodypairs("a=1&b=2", {"CONTENT_LENGTH=99999999999999999999999"}),
                  "a=\"1\"\nb=\"2\"\n", "length beyond any number");
    // End of input is no pair of its own.
    expect_output(bodypairs("a=1&", {"CONTENT_LENGTH=100"}), "a=\"1\"\n", "ends after '&'");
    expect_output(bodypairs("", {"CONTENT_LENGTH=100"}), "", "no body at all");
    expect_output(bodypairs("a=1&&", {"CONTENT_LENGTH=100"}), "a=\"1\"\n=\"\"\n", "empty pair");
}

TEST(Bodypairs, NoUsableContentLengthPrintsNothing)
{
    expect_output(bodypairs("a=1", {}), "", "unset");
    for (const char *v : {"", "0", "-1", "-99999999999999999999", "abc", "x7", "+0"})
        expect_output(bodypairs("a=1", {std::string("CONTENT_LENGTH=") + v}), "", v);
}

TEST(Bodypairs, ContentLengthIsALeadingInteger)
{
    for (const char *v : {"3", " 3", "+3", "3xyz", "3.9", "03"})
        expect_output(bodypairs("a=1&b=2", {std::string("CONTENT_LENGTH=") + v}), "a=\"1\"\n", v);
}

TEST(Bodypairs, LongPairsAreReadWhole)
{
    for (size_t n :
         {size_t(102400), size_t(102401), size_t(102402), size_t(250000), size_t(6) << 20}) {
        std::string value;
        value.reserve(n);
        for (size_t i = 0; value.size() < n; ++i) value += static_cast<char>('a' + i % 26);
        std::string body = "k=" + value + "&z=%21+";
        expect_output(bodypairs(body), "k=\"" + value + "\"\nz=\"! \"\n",
                      std::to_string(n) + " characters");
    }
}

TEST(Bodypairs, ManyPairsInOrder)
{
    std::string body, want;
    for (int i = 0; i < 20000; ++i) {
        body += (i ? "&k" : "k") + std::to_string(i) + "=v%2" + std::to_string(i % 10);
        want += "k" + std::to_string(i) + "=\"v" + static_cast<char>(' ' + i % 10) + "\"\n";
    }
    expect_output(bodypairs(body), want, "20000 pairs");
}

TEST(Bodypairs, ReadErrorIsReportedWithStatusOne)
{
    // A directory as standard input: every read fails.
    TempDir t;
    std::string out;
    EXPECT_EQ(shell("CONTENT_LENGTH=5 " + bin_path("bodypairs") + " 2>&1 < " + t.path, &out), 1);
    EXPECT_EQ(out, "bodypairs: standard input: Is a directory\n");
}

TEST(FormOutput, FailedWriteIsReportedWithStatusOne)
{
    std::string out;
    EXPECT_EQ(shell(bin_path("argpairs") + " a=1 2>&1 >/dev/full", &out), 1);
    EXPECT_EQ(out, "argpairs: standard output: No space left on device\n");
    EXPECT_EQ(
        shell("printf a=1 | CONTENT_LENGTH=3 " + bin_path("bodypairs") + " 2>&1 >/dev/full", &out),
        1);
    EXPECT_EQ(out, "bodypairs: standard output: No space left on device\n");
}

} // namespace
