// The SCSI probe: command driver and answer decoders.
//
// `Do` probes one device through the pass-through layer. Everything else
// decodes answers that are already in memory and prints them on standard
// output, so the decoders run the same on a device's live answers and on
// answers saved from one.
#pragma once

enum { SCSI_BUFFER_SIZE = 8000 };

// Program-wide state: the host name and the four MODE SENSE answers (page
// control 0-3: current, changeable, default, saved values), each zero-filled
// past what the device sent.
extern char hostname[100];
extern unsigned char bcur[SCSI_BUFFER_SIZE], bchg[SCSI_BUFFER_SIZE], bdef[SCSI_BUFFER_SIZE],
    bsav[SCSI_BUFFER_SIZE];

// Probes one device node: title, READ CAPACITY, INQUIRY, MODE SENSE.
void Do(const char *path);

// "READ_CAPACITY:" and the capacity line from an 8-byte READ CAPACITY answer.
void print_capacity(const unsigned char *answer);
// "INQUIRY:" and every decoded line. answer must hold at least 136 bytes
// (the buffer is zero-filled past what the device sent). Returns the
// peripheral device type (byte 0 bits 4-0), which chooses page 3's reading.
int print_inquiry(const unsigned char *answer);
// Prints the mode data held in bcur, bchg, bdef and bsav: checks, header
// and block-descriptor rows, then every page. device_type is the INQUIRY
// device type.
void print_mode_data(int device_type);

// Hex-and-text dump of len bytes, 16 a row, under an 8-column label.
void HexDump(const unsigned char *p, int len, const char *label);

// The table of known mode pages (pages.cpp).
enum PrinterKind { P1, P2, P3, B1, BS1 };
struct PageField {
    const char *label;
    PrinterKind printer;
    int offset;
    int mask;  // B1, BS1
    int shift; // BS1
    const char *format;
};
struct PageEntry {
    int code;
    int device_type; // -1: any device; else only for this INQUIRY type
    const char *title;
    const PageField *fields; // nullptr: title only
    int nfields;
};
// The entry for a page code on a device of the given type; nullptr when the
// code is not in the table.
const PageEntry *find_page(int code, int device_type);
