// targetscan: READ CAPACITY, INQUIRY and MODE SENSE on each device named.
#include "targetscan/targetscan.h"

#include "platform/hostname.h"
#include "platform/outcheck.h"

#include <cstdio>
#include <cstdlib>

[[maybe_unused]] static const char patchlevel[] = "targetscan version 2.0";

int main(int argc, char **argv)
{
    check_output_at_exit("targetscan");
    // Unbuffered, so the decoded text and the error lines keep their order.
    setbuf(stdout, nullptr);
    host_name(hostname, sizeof hostname);
    if (argc < 2) {
        fprintf(stderr, "!ERROR: Usage: %s raw-disk-device [raw-disk-device ...]\n",
                argc > 0 ? argv[0] : "targetscan");
        exit(1);
    }
    for (int i = 1; i < argc; i++) Do(argv[i]);
    fprintf(stderr, "!PASS: no errors found in targetscan");
    exit(0);
}
