// The per-device driver: open, title, READ CAPACITY, INQUIRY, MODE SENSE.
#include "targetscan/targetscan.h"

#include "platform/scsi_passthrough.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

char hostname[100];

// The '='-rule, "host path" and the rule again.
static void print_title(const char *host, const char *path)
{
    std::string rule(strlen(host) + 1 + strlen(path), '=');
    rule += '\n';
    fputs(rule.c_str(), stdout);
    printf("%s %s\n", host, path);
    fputs(rule.c_str(), stdout);
}

// Sends one data-in command into a zero-filled 8000-byte buffer. Every CDB
// byte not named is 0, the logical unit bits of byte 1 among them.
static int issue(int fd, std::initializer_list<unsigned char> bytes, int cdb_length,
                 unsigned char *buffer)
{
    unsigned char cdb[16] = {};
    std::copy(bytes.begin(), bytes.end(), cdb);
    memset(buffer, 0, SCSI_BUFFER_SIZE);
    ScsiRequest rq = {cdb, buffer, SCSI_BUFFER_SIZE, (unsigned char)cdb_length};
    return scsi_command(fd, &rq);
}

static void probe(int fd)
{
    static unsigned char data[SCSI_BUFFER_SIZE];
    if (issue(fd, {0x25}, 10, data) != 0) {
        perror("!ERROR: ioctl(READ_CAPACITY)");
        return;
    }
    print_capacity(data);

    if (issue(fd, {0x12, 0, 0, 0, 200}, 6, data) != 0) {
        perror("!ERROR: ioctl(SCSI_INQUIRY)");
        return;
    }
    int device_type = print_inquiry(data);

    // Page controls 0-3 (current, changeable, default, saved), all pages.
    static unsigned char *const target[4] = {bcur, bchg, bdef, bsav};
    for (int pc = 0; pc < 4; pc++) {
        if (issue(fd, {0x1A, 0, (unsigned char)(pc * 64 | 0x3F), 0, 255}, 6, target[pc]) != 0) {
            perror("!ERROR: ioctl(SCSI_MODE_SENSE)");
            return;
        }
    }
    print_mode_data(device_type);
}

void Do(const char *path)
{
    int fd = scsi_open(path);
    if (fd < 0) {
        int e = errno;
        fputs("!ERROR: ", stderr);
        errno = e;
        perror(path);
        return;
    }
    print_title(hostname, path);
    probe(fd);
    scsi_close(fd);
}
