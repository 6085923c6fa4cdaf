#include "formpairs/words.h"

#include <cstdlib>
#include <cstring>

void *erealloc(void *p, size_t n)
{
    void *q = realloc(p, n ? n : 1);
    if (!q) {
        fputs("out of memory\n", stderr);
        exit(1);
    }
    return q;
}

char *makeword(char *line, char stop)
{
    size_t len = strlen(line);
    const char *at = static_cast<const char *>(memchr(line, stop, len));
    size_t n = at ? static_cast<size_t>(at - line) : len;
    char *word = static_cast<char *>(erealloc(nullptr, n + 1));
    memcpy(word, line, n);
    word[n] = '\0';
    if (at)
        memmove(line, at + 1, len - n); // the rest and its terminator
    else
        line[0] = '\0';
    return word;
}

char *fmakeword(FILE *f, char stop, long long *cl)
{
    size_t wsize = FORMPAIRS_WORD_STEP;
    size_t ll = 0;
    char *word = static_cast<char *>(erealloc(nullptr, wsize + 1));
    while (*cl > 0) {
        int c = fgetc(f);
        if (c == EOF) break;
        --*cl;
        if (c == static_cast<unsigned char>(stop)) break;
        if (ll == wsize) {
            wsize += FORMPAIRS_WORD_STEP;
            word = static_cast<char *>(erealloc(word, wsize + 1));
        }
        word[ll++] = static_cast<char>(c);
    }
    word[ll] = '\0';
    return static_cast<char *>(erealloc(word, ll + 1));
}

void plustospace(char *str)
{
    for (; *str; ++str)
        if (*str == '+') *str = ' ';
}

void unescape_url(char *url)
{
    size_t x = 0, y = 0;
    while (url[y]) {
        if (url[y] == '%' && url[y + 1] && url[y + 2]) {
            char c = x2c(&url[y + 1]);
            y += 3;
            if (c != '\n') url[x++] = c;
        } else {
            url[x++] = url[y++];
        }
    }
    url[x] = '\0';
}

static int hex_value(unsigned char c)
{
    // Codes above 64 are letter digits; clearing bit 0x20 folds lower case.
    return c > 64 ? (c & 0xDF) - 'A' + 10 : c - '0';
}

char x2c(const char *what)
{
    int v = hex_value(static_cast<unsigned char>(what[0])) * 16 +
            hex_value(static_cast<unsigned char>(what[1]));
    return static_cast<char>(static_cast<unsigned char>(v));
}
