// netsink: the receiving end of an IPv6 TCP throughput and integrity test.
#include "netsink/netsink.h"

#include "platform/hostname.h"
#include "platform/outcheck.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

[[noreturn]] static void usage(const char *argv0)
{
    fprintf(stderr, "!ERROR: (server) Usage: %s [-p port] [-c connections ] hostname\n", argv0);
    exit(1);
}

// The number at the start of text, as atoi reads it, when there is one and
// it lies in [min, max]; -1 otherwise. A port outside 1..65535 would be bound
// modulo 65536 (or as any free port) while the bound line shows the number
// given, and a count that is no number would pass without testing anything.
static long number_in(const char *text, long min, long max)
{
    char *end;
    long v = strtol(text, &end, 10);
    return end != text && v >= min && v <= max ? v : -1;
}

// The settings the command line gives; any option error ends in usage.
static Settings read_options(int argc, char **argv)
{
    const char *argv0 = argc > 0 ? argv[0] : "netsink";
    Settings set;
    int c;
    while ((c = getopt(argc, argv, "c:p:")) != -1) {
        switch (c) {
        case 'c':
            set.connections = (int)number_in(optarg, 0, INT_MAX);
            if (set.connections < 0) usage(argv0);
            break;
        case 'p':
            set.port = (int)number_in(optarg, 1, 65535);
            if (set.port < 0) usage(argv0);
            break;
        default: usage(argv0);
        }
    }
    if (optind < argc) {
        // The first 255 characters, as a 256-byte buffer with its terminator
        // holds them.
        set.host.assign(argv[optind], strnlen(argv[optind], 255));
    } else {
        char host[256] = "";
        host_name(host, sizeof host);
        set.host = host;
    }
    return set;
}

int main(int argc, char **argv)
{
    check_output_at_exit("netsink");
    const Settings set = read_options(argc, argv);
    tcp_setup(set);
    // The progress lines come before the verdict also where both streams go
    // to one file.
    fflush(stdout);
    if (run.status != 0) {
        fprintf(stderr, "!ERROR: Failure detected in netsink on IPv6.\n");
        // The OR of wait statuses could read as 0 in the low eight bits.
        return 1;
    }
    fprintf(stderr, "!PASS: No failures detected in netsink on IPv6.\n");
    return 0;
}
