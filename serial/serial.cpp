// The command line, the speed table and the time budgets.
#include "serial/serial.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unistd.h>

// A decimal number as atol reads one, held to long's range.
static long to_long(const char *text)
{
    return strtol(text, nullptr, 10);
}

static const Speed speed_table[ALL_SPEEDS] = {
    {"300", 300},       {"1200", 1200},     {"2400", 2400},     {"4800", 4800},
    {"9600", 9600},     {"19200", 19200},   {"38400", 38400},   {"57600", 57600},
    {"76800", 76800},   {"115200", 115200}, {"153600", 153600}, {"230400", 230400},
    {"307200", 307200}, {"460800", 460800},
};

Options read_options(int argc, char **argv, const Program &p)
{
    Options o;
    bool bad = false;
    for (int c; !bad && (c = getopt(argc, argv, p.optstring)) != -1;) {
        switch (c) {
        case 's':
        case 'n':
            bad = o.mode && o.mode != c;
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
        default: bad = true;
        }
    }
    if (bad || !o.device || (strchr(p.optstring, 's') && !o.mode)) fail({p.usage, OUT});
    for (int i = 0; i < p.speeds && !o.speed; i++)
        if (strcmp(o.baud, speed_table[i].text) == 0) o.speed = &speed_table[i];
    if (!o.speed) fail({p.bad_speed, OUT});
    if (p.budget) {
        const char *v = getenv(p.budget);
        if (!v) fail(p.no_budget);
        o.budget = to_long(v);
    }
    return o;
}

// Each step held to the range of time_t, as the lead may take the budget
// below it.
time_t deadline_after(long budget, long lead)
{
    auto add = [](time_t t, long s) {
        time_t d;
        if (__builtin_add_overflow(t, s, &d))
            d = s > 0 ? std::numeric_limits<time_t>::max() : std::numeric_limits<time_t>::min();
        return d;
    };
    return add(add(time(nullptr), budget), -lead);
}
