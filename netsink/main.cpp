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

int main(int argc, char **argv)
{
    check_output_at_exit("netsink");
    const char *argv0 = argc > 0 ? argv[0] : "netsink";
    char host[256] = "";
    int port = 4004, connections = 1;
    host_name(host, sizeof host);
    int c;
    while ((c = getopt(argc, argv, "c:p:")) != -1) {
        switch (c) {
        case 'c':
            connections = (int)number_in(optarg, 0, INT_MAX);
            if (connections < 0) usage(argv0);
            break;
        case 'p':
            port = (int)number_in(optarg, 1, 65535);
            if (port < 0) usage(argv0);
            break;
        default: usage(argv0);
        }
    }
    if (optind < argc) {
        // The first 255 characters: the last byte keeps the terminator.
        size_t n = strnlen(argv[optind], sizeof host - 1);
        memcpy(host, argv[optind], n);
        host[n] = '\0';
    }
    tcp_setup(host, port, connections);
    // The progress lines come before the verdict also where both streams go
    // to one file.
    fflush(stdout);
    if (status != 0) {
        fprintf(stderr, "!ERROR: Failure detected in netsink on IPv6.\n");
        // The OR of wait statuses could read as 0 in the low eight bits.
        return 1;
    }
    fprintf(stderr, "!PASS: No failures detected in netsink on IPv6.\n");
    return 0;
}
