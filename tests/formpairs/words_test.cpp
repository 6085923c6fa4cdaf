// The string module on its own: decoding of escapes, word cutting, and
// reading words from a real stream.
#include "formpairs/words.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace
{

// Runs f on a heap copy of exactly s and its terminator (an overrun shows in
// the sanitizer build) and returns what the string holds afterwards.
template <class F> std::string in_place(const std::string &s, F f)
{
    char *p = static_cast<char *>(malloc(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    f(p);
    std::string r(p);
    free(p);
    return r;
}

std::string unescaped(const std::string &s)
{
    return in_place(s, unescape_url);
}

TEST(X2c, HexDigitsOfEitherCase)
{
    struct {
        const char *in;
        unsigned char want;
    } cases[] = {{"00", 0x00}, {"09", 0x09}, {"0A", 0x0A}, {"0a", 0x0A}, {"21", '!'},
                 {"3D", '='},  {"3d", '='},  {"4a", 'J'},  {"4A", 'J'},  {"7e", '~'},
                 {"ff", 0xFF}, {"FF", 0xFF}, {"Ff", 0xFF}, {"c3", 0xC3}, {"C3", 0xC3}};
    for (auto &c : cases) EXPECT_EQ(static_cast<unsigned char>(x2c(c.in)), c.want) << c.in;
}

TEST(UnescapeUrl, DecodesDropsLineFeedsAndLeavesShortEscapes)
{
    struct {
        const char *in, *want;
    } cases[] = {
        {"plain", "plain"}, {"%21", "!"},    {"a%21b", "a!b"},     {"%3Dx", "=x"}, {"%4a%4A", "JJ"},
        {"a%0Ab", "ab"},    {"a%0ab", "ab"}, {"a%0Db", "a\rb"},    {"%0A%0A", ""}, {"%", "%"},
        {"%4", "%4"},       {"%%", "%%"},    {"x%", "x%"},         {"x%4", "x%4"}, {"%41%", "A%"},
        {"%41%4", "A%4"},   {"%2B+", "++"},  {"%25%32%31", "%21"}, // decoded once, not again
    };
    for (auto &c : cases) EXPECT_EQ(unescaped(c.in), c.want) << c.in;
}

TEST(UnescapeUrl, LiteralLineFeedStays)
{
    EXPECT_EQ(unescaped("a\nb"), "a\nb");
}

TEST(Plustospace, EveryPlusBecomesABlank)
{
    EXPECT_EQ(in_place("+a+b++", plustospace), " a b  ");
    EXPECT_EQ(in_place("", plustospace), "");
}

TEST(Makeword, CutsAtTheFirstStopCharacter)
{
    struct {
        const char *line, *word, *rest;
    } cases[] = {
        {"name=value", "name", "value"}, {"a=b=c", "a", "b=c"}, {"=v", "", "v"}, {"n=", "n", ""},
        {"whole", "whole", ""},          {"", "", ""}};
    for (auto &c : cases) {
        char *word = nullptr;
        std::string rest = in_place(c.line, [&](char *p) { word = makeword(p, '='); });
        EXPECT_STREQ(word, c.word) << c.line;
        EXPECT_EQ(rest, c.rest) << c.line;
        free(word);
    }
}

// A real stream over a temporary file holding text.
FILE *stream_of(const std::string &text)
{
    FILE *f = tmpfile();
    if (!f) return nullptr;
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
    return f;
}

struct Read {
    std::string word;
    long long cl;
    long pos; // where the stream stands afterwards
};

Read read_word(const std::string &text, long long cl, char stop = '&')
{
    FILE *f = stream_of(text);
    if (!f) return {"(no tmpfile)", -99, -99};
    char *w = fmakeword(f, stop, &cl);
    Read r{w, cl, ftell(f)};
    free(w);
    fclose(f);
    return r;
}

TEST(Fmakeword, StopsAtStopCharacterCounterOrEnd)
{
    // The stop character is consumed and counted, but not stored.
    Read r = read_word("a=1&b=2", 100);
    EXPECT_EQ(r.word, "a=1");
    EXPECT_EQ(r.cl, 96);
    EXPECT_EQ(r.pos, 4);
    // The character that brings the counter to 0 is stored.
    r = read_word("a=1&b=2", 2);
    EXPECT_EQ(r.word, "a=");
    EXPECT_EQ(r.cl, 0);
    EXPECT_EQ(r.pos, 2);
    // ... unless it is the stop character.
    r = read_word("a=1&b=2", 4);
    EXPECT_EQ(r.word, "a=1");
    EXPECT_EQ(r.cl, 0);
    EXPECT_EQ(r.pos, 4);
    // End of the stream adds nothing to the word and nothing to the count.
    r = read_word("a=1", 10);
    EXPECT_EQ(r.word, "a=1");
    EXPECT_EQ(r.cl, 7);
    r = read_word("", 10);
    EXPECT_EQ(r.word, "");
    EXPECT_EQ(r.cl, 10);
    // No count left: nothing is read.
    r = read_word("a=1", 0);
    EXPECT_EQ(r.word, "");
    EXPECT_EQ(r.pos, 0);
    r = read_word("a=1", -5);
    EXPECT_EQ(r.word, "");
    EXPECT_EQ(r.cl, -5);
    EXPECT_EQ(r.pos, 0);
}

TEST(Fmakeword, GrowsPastTheInitialBufferAndKeepsEveryByte)
{
    for (size_t n : {size_t(102399), size_t(102400), size_t(102401), size_t(204800), size_t(204801),
                     size_t(350000)}) {
        std::string word;
        for (size_t i = 0; i < n; ++i) word += static_cast<char>('a' + i % 26);
        Read r = read_word(word + "&rest", 1LL << 40);
        EXPECT_EQ(r.word.size(), n);
        EXPECT_TRUE(r.word == word) << n;
        EXPECT_EQ(r.pos, static_cast<long>(n + 1));
    }
}

} // namespace
