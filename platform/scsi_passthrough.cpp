#include "platform/scsi_passthrough.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The record sets no time-out; a minute keeps a wedged device from hanging
// the probe for ever without cutting short a slow but working one.
static const unsigned kTimeoutMs = 60000;

int scsi_open(const char *path)
{
    return open(path, O_RDONLY | O_NONBLOCK);
}

int scsi_command(int fd, ScsiRequest *request)
{
    if (request->cdb == nullptr || request->buffer == nullptr || request->cdb_length == 0 ||
        request->cdb_length > 16) {
        errno = EINVAL;
        return -1;
    }
    unsigned char sense[32];
    sg_io_hdr_t hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SG_DXFER_FROM_DEV;
    hdr.cmd_len = request->cdb_length;
    hdr.mx_sb_len = sizeof sense;
    hdr.dxfer_len = request->buffer_length;
    hdr.dxferp = request->buffer;
    hdr.cmdp = request->cdb;
    hdr.sbp = sense;
    hdr.timeout = kTimeoutMs;
    int rc;
    do rc = ioctl(fd, SG_IO, &hdr);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) return -1;
    // SG_IO succeeds even when the command did not: the outcome is in the
    // status fields, and only a fully good one means the buffer is valid.
    if (hdr.status != 0 || hdr.host_status != 0 || hdr.driver_status != 0) {
        errno = EIO;
        return -1;
    }
    return 0;
}

void scsi_close(int fd)
{
    close(fd);
}
