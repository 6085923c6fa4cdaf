// argpairs: prints each pair of a form-encoded query string (the first
// argument) as a name="value" line.
#include "formpairs/pairs.h"
#include "platform/outcheck.h"

int main(int argc, char **argv)
{
    check_output_at_exit("argpairs");
    if (argc > 1) decode_query(argv[1], stdout);
    return 0;
}
