// The pairs: cut, decoded, stored and printed.
#include "formpairs/pairs.h"

#include "formpairs/words.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

entry entries;

// Only the current pair is kept: a body of many pairs must not pile up.
static void store_entry(char *name, char *val)
{
    free(entries.name);
    free(entries.val);
    entries.name = name;
    entries.val = val;
}

static void decode_pair(char *pair, FILE *out)
{
    // Decoding comes before the split: an escaped '=' in a name splits it.
    plustospace(pair);
    unescape_url(pair);
    char *name = makeword(pair, '=');
    store_entry(name, pair);
    fprintf(out, "%s=\"%s\"\n", entries.name, entries.val);
}

void decode_query(const char *query, FILE *out)
{
    size_t len = strlen(query);
    size_t pos = 0;
    while (pos < len) {
        // The buffer fits the pair, however long it is.
        size_t n = strcspn(query + pos, "&");
        char *pair = static_cast<char *>(erealloc(nullptr, n + 1));
        memcpy(pair, query + pos, n);
        pair[n] = '\0';
        decode_pair(pair, out);
        pos += n + 1;
    }
}

void decode_body(FILE *in, long long cl, FILE *out)
{
    while (cl > 0 && !feof(in) && !ferror(in)) {
        long long before = cl;
        char *word = fmakeword(in, '&', &cl);
        if (cl == before) {
            // Input ended before this pair's first character.
            free(word);
            break;
        }
        decode_pair(word, out);
    }
}
