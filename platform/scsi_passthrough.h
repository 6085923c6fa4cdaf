// SCSI pass-through: one command to the device behind an open node.
//
// The probe relies on: `scsi_open` opening a device node read-only without
// waiting for the medium (the no-delay flag), -1 with errno on failure; and
// `scsi_command` sending the request's CDB (its length as given) and moving
// data from the device into the request's buffer. `scsi_command` returns 0
// only when the command completed and the buffer holds the answer; any other
// outcome, including a command the device refused (CHECK CONDITION and the
// like), returns -1 with the reason in errno (EIO for a refused command).
// The record's fields are the ones the probe sets before every command; the
// layer never writes into it.
#pragma once

// Every command moves data from the device into the buffer.
struct ScsiRequest {
    unsigned char *cdb;     // command descriptor block
    unsigned char *buffer;  // data-in buffer
    unsigned buffer_length; // bytes available in buffer
    unsigned char cdb_length;
};

int scsi_open(const char *path);
int scsi_command(int fd, ScsiRequest *request);
void scsi_close(int fd);
