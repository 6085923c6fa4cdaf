// epochnow: prints the clock as whole seconds since the epoch.
#include <cstdio>
#include <ctime>

int main()
{
    printf("%ld\n", static_cast<long>(time(nullptr)));
    return 0;
}
