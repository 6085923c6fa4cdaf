// argpairs: prints each pair of a form-encoded query string (the first
// argument) as a name="value" line.
#include "formpairs/pairs.h"

int main(int argc, char **argv)
{
    if (argc > 1) decode_query(argv[1], stdout);
    return finish_output("argpairs");
}
