// epochnow: prints the clock as whole seconds since the epoch.
#include "platform/outcheck.h"

#include <cstdio>
#include <ctime>

int main()
{
    check_output_at_exit("epochnow");
    printf("%ld\n", static_cast<long>(time(nullptr)));
    return 0;
}
