// String operations shared by argpairs and bodypairs. All of them work on
// NUL-terminated 8-bit strings, in place unless said otherwise.
#pragma once
#include <cstddef>
#include <cstdio>

// The pair buffer of fmakeword starts at this many characters (plus one for
// the terminator) and grows by as many whenever it is full. The fuzz build
// makes it small so that growing is exercised on short inputs.
#ifndef FORMPAIRS_WORD_STEP
#define FORMPAIRS_WORD_STEP 102400
#endif

// Newly allocated copy of line up to the first stop character (or all of it);
// line is shifted left to hold only what followed the stop character, or
// becomes empty when there is none.
char *makeword(char *line, char stop);

// Reads one word from f up to the stop character (consumed, not stored), the
// end of the stream, or until *cl reaches 0 (the character that brought it to
// 0 is stored unless it is the stop character). Every character read counts
// against *cl; nothing is read when *cl is not positive. The word is newly
// allocated and shrunk to fit.
char *fmakeword(FILE *f, char stop, long long *cl);

// Every '+' becomes a blank.
void plustospace(char *str);

// Replaces each '%' and the two characters after it by the byte x2c makes of
// them; a decoded line feed is dropped. A '%' with fewer than two characters
// left is copied as it is, together with what follows it.
void unescape_url(char *url);

// The byte of two hexadecimal digits, upper or lower case alike. No
// validation: other characters give whatever their codes make.
char x2c(const char *what);

// realloc that ends the program with a message when memory runs out.
void *erealloc(void *p, size_t n);
