// Command-line words: cardinal numbers and time limits.
#include "libsupport/support.h"

#include <cctype>
#include <climits>
#include <cstdlib>

int iscardinal(const char *s)
{
    while (isspace((unsigned char)*s)) s++;
    if (!isdigit((unsigned char)*s)) return 0;
    while (isdigit((unsigned char)*s)) s++;
    while (isspace((unsigned char)*s)) s++;
    return *s == '\0';
}

int get_cardinal_argument(const char *option, const char *arg)
{
    if (!arg) {
        trace_p("%s option requires an argument\n", option);
        exit(1);
    }
    if (!iscardinal(arg)) {
        trace_p("%s %s; argument must be a cardinal number.\n", option, arg);
        exit(1);
    }
    unsigned long v = strtoul(arg, nullptr, 10);
    if (v >= 2147483648UL) {
        trace_p("%s %s; argument must be <= %d (INT_MAX).\n", option, arg, INT_MAX);
        exit(1);
    }
    return (int)v;
}

int parse_time(const char *s, int *seconds)
{
    if (*s == ':') s++;
    long long field[4];
    int n = 0;
    for (;;) {
        if (n == 4 || !isdigit((unsigned char)*s)) return 0;
        long long v = 0;
        while (isdigit((unsigned char)*s)) {
            v = v * 10 + (*s++ - '0');
            if (v > INT_MAX) return 0; // no field can make a time that fits
        }
        field[n++] = v;
        if (*s == '\0') break;
        if (*s++ != ':') return 0;
    }
    long long t;
    switch (n) {
    case 1: t = field[0]; break;
    case 2: t = field[0] * 60 + field[1]; break;
    case 3: t = (field[0] * 60 + field[1]) * 60 + field[2]; break;
    default: return 0;
    }
    // A time is an int of seconds; one that does not fit is refused, not wrapped.
    if (t > INT_MAX) return 0;
    *seconds = (int)t;
    return 1;
}
