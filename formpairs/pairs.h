// Decoding of form-encoded pairs into name="value" lines: the cutting rules of
// argpairs (a query string) and bodypairs (a request body on a stream).
#pragma once
#include <cstdio>

// The pair last decoded. Each pair replaces the one before it.
struct entry {
    char *name;
    char *val;
};
extern entry entries;

// Decodes a query string: pairs are cut at '&', each pair is decoded and then
// split at its first '=', one "%s=\"%s\"\n" line per pair on out.
void decode_query(const char *query, FILE *out);

// Decodes a body of cl bytes read from in (cut with fmakeword). Nothing is
// done when cl is not positive. End of input ends the last pair; it adds no
// pair of its own.
void decode_body(FILE *in, long long cl, FILE *out);

// The request body (body.cpp).

// CONTENT_LENGTH as a leading decimal integer: 0 when unset or not a number,
// saturated when it does not fit.
long long content_length(const char *value);

// A stream on descriptor fd that yields at most limit bytes and never reads
// more than that from fd, so that what follows the body stays unread.
FILE *open_body(int fd, long long limit);
