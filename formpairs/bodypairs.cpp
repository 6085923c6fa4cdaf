// bodypairs: prints each pair of a form-encoded request body of
// CONTENT_LENGTH bytes on standard input as a name="value" line.
#include "formpairs/pairs.h"
#include "platform/outcheck.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

int main()
{
    check_output_at_exit("bodypairs");
    long long cl = content_length(getenv("CONTENT_LENGTH"));
    if (cl > 0) {
        // Bytes after the body belong to whoever reads the input next.
        FILE *in = open_body(0, cl);
        if (!in) {
            fprintf(stderr, "bodypairs: standard input: %s\n", strerror(errno));
            return 1;
        }
        decode_body(in, cl, stdout);
        bool failed = ferror(in);
        int err = errno;
        fclose(in);
        if (failed) {
            fprintf(stderr, "bodypairs: standard input: %s\n", strerror(err));
            return 1;
        }
    }
    return 0;
}
