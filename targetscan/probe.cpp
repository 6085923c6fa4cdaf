// The per-device driver: open, title, READ CAPACITY, INQUIRY, MODE SENSE.
#include "targetscan/targetscan.h"

#include "platform/scsi_passthrough.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

char hostname[100];

// Sends one data-in command of cdb_length bytes into an 8000-byte buffer.
static int issue(int fd, ScsiRequest *rq, unsigned char *cdb, int cdb_length, unsigned char *buffer)
{
    rq->flags = SCSI_FLAGS_READ;
    rq->buffer = buffer;
    rq->buffer_length = SCSI_BUFFER_SIZE;
    rq->cdb = cdb;
    rq->cdb_length = (unsigned char)cdb_length;
    return scsi_command(fd, rq);
}

// The four MODE SENSE requests (page controls 0-3, all pages) into bcur,
// bchg, bdef and bsav; -1 at the first that fails.
static int mode_sense_all(int fd, ScsiRequest *rq, unsigned char *cdb)
{
    static unsigned char *const target[4] = {bcur, bchg, bdef, bsav};
    for (int pc = 0; pc < 4; pc++) {
        memset(target[pc], 0, SCSI_BUFFER_SIZE);
        cdb[0] = 0x1A;
        cdb[1] &= 0x1F;
        cdb[2] = (unsigned char)(pc * 64 | 0x3F);
        cdb[3] = 0;
        cdb[4] = 255;
        cdb[5] = 0;
        if (issue(fd, rq, cdb, 6, target[pc]) != 0) return -1;
    }
    return 0;
}

static void probe(int fd)
{
    ScsiRequest rq;
    unsigned char cdb[16];
    static unsigned char data[SCSI_BUFFER_SIZE];
    memset(&rq, 0, sizeof rq);
    memset(cdb, 0, sizeof cdb);

    memset(data, 0, sizeof data);
    cdb[0] = 0x25;
    cdb[1] &= 0x1F;
    if (issue(fd, &rq, cdb, 10, data) != 0) {
        perror("!ERROR: ioctl(READ_CAPACITY)");
        return;
    }
    print_capacity(data);

    memset(data, 0, sizeof data);
    cdb[0] = 0x12;
    cdb[1] &= 0x1F;
    cdb[4] = 200;
    if (issue(fd, &rq, cdb, 6, data) != 0) {
        perror("!ERROR: ioctl(SCSI_INQUIRY)");
        return;
    }
    int device_type = print_inquiry(data);

    if (mode_sense_all(fd, &rq, cdb) != 0) {
        perror("!ERROR: ioctl(SCSI_MODE_SENSE)");
        return;
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
