// mediaquery: prints the volume manager's symbolic name for a device path,
// nothing when the volume manager does not manage the path.
#include "platform/outcheck.h"
#include "platform/volmgt.h"

#include <cstdio>

int main(int argc, char **argv)
{
    check_output_at_exit("mediaquery");
    if (argc < 2) {
        fprintf(stderr, "!ERROR: Usage: %s device-path\n", argc > 0 ? argv[0] : "mediaquery");
        return 1;
    }
    if (volmgt_inuse(argv[1]) == 0) return 0;
    const char *name = volmgt_symname(argv[1]);
    if (name)
        printf("%s\n", name);
    else
        printf("path not managed\n");
    return 0;
}
