// The pattern, the port's globals, the command line, the speed table and the
// time budgets.
#include "serial/serial.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unistd.h>

const char obuf[BLOCK + 1] = "QwErHMZa@nYBTc$%n4nUal80J&*k5l";
char ibuf[BLOCK + 1];
int fd = -1;
long long cnt = 0;
int fdf = -1;

// A decimal number as atol reads one, held to long's range.
static long to_long(const char *text)
{
    return strtol(text, nullptr, 10);
}

[[noreturn]] static void usage(const char *text)
{
    fputs(text, stdout);
    exit(1);
}

Options read_options(int argc, char **argv, const char *optstring, const char *usage_text)
{
    Options o;
    int c;
    while ((c = getopt(argc, argv, optstring)) != -1) {
        switch (c) {
        case 's':
        case 'n':
            if (o.mode && o.mode != c) usage(usage_text);
            o.mode = c;
            break;
        case 'd': o.device = optarg; break;
        case 'b': o.baud = optarg; break;
        case 'm': {
            long v = to_long(optarg); // as atoi, held to int's range
            o.limit = (v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : (int)v) / 95 * 95;
            break;
        }
        case 'v': o.verbose = true; break;
        default: usage(usage_text);
        }
    }
    if (!o.device || (strchr(optstring, 's') && !o.mode)) usage(usage_text);
    return o;
}

const Speed speed_table[14] = {
    {"300", 300},       {"1200", 1200},     {"2400", 2400},     {"4800", 4800},
    {"9600", 9600},     {"19200", 19200},   {"38400", 38400},   {"57600", 57600},
    {"76800", 76800},   {"115200", 115200}, {"153600", 153600}, {"230400", 230400},
    {"307200", 307200}, {"460800", 460800},
};

const Speed &convert_speed(const char *value, int rows, const char *line1, const char *line2)
{
    for (int i = 0; i < rows; i++)
        if (strcmp(value, speed_table[i].text) == 0) return speed_table[i];
    fputs(line1, stdout);
    fputs(line2, stdout);
    exit(1);
}

long budget(const char *name, const Msg &missing)
{
    const char *v = getenv(name);
    if (!v) fail(missing);
    return to_long(v);
}

time_t deadline_after(time_t start, long seconds)
{
    time_t d;
    if (__builtin_add_overflow(start, seconds, &d))
        d = seconds > 0 ? std::numeric_limits<time_t>::max() : std::numeric_limits<time_t>::min();
    return d;
}
