// The SCSI probe: command driver and answer decoders.
//
// `Do` probes one device through the pass-through layer. Everything else
// decodes answers that are already in memory and prints them on standard
// output, so the decoders run the same on a device's live answers and on
// answers saved from one.
#pragma once
#include <cstddef>
#include <span>

enum { SCSI_BUFFER_SIZE = 8000 };

// Program-wide state: the host name, the four MODE SENSE answers (page
// control 0-3: current, changeable, default, saved values) and the offsets,
// within them, of the block being printed.
extern char hostname[100];
extern unsigned char bcur[SCSI_BUFFER_SIZE], bchg[SCSI_BUFFER_SIZE], bdef[SCSI_BUFFER_SIZE],
    bsav[SCSI_BUFFER_SIZE];
extern int icur, ichg, idef, isav;

// Probes one device node: title, READ CAPACITY, INQUIRY, MODE SENSE.
void Do(const char *path);

// The '='-rule, "host path" and the rule again.
void print_title(const char *host, const char *path);
// "READ_CAPACITY:" and the capacity line from an 8-byte READ CAPACITY answer.
void print_capacity(const unsigned char *answer);
// The number of blocks a READ CAPACITY answer reports (last address + 1).
unsigned long long capacity_of(const unsigned char *answer);
// "INQUIRY:" and every decoded line. answer must hold at least 136 bytes
// (the buffer is zero-filled past what the device sent). Returns the
// peripheral device type (byte 0 bits 4-0), which chooses page 3's reading.
int print_inquiry(const unsigned char *answer);

// Puts one saved MODE SENSE answer (page control 0-3) into its buffer,
// zero-filled past len as a live request leaves it; len beyond the buffer is cut.
void load_mode_answer(int page_control, const unsigned char *answer, size_t len);
// Prints the mode data held in bcur, bchg, bdef and bsav: checks, header
// and block-descriptor rows, then every page. device_type is the INQUIRY
// device type.
void print_mode_data(int device_type);

// Hex-and-text dump of len bytes, 16 a row, under an 8-column label.
void HexDump(const unsigned char *p, int len, const char *label);

// Block headings and field rows of the mode-data table.
void Pphead(const char *heading, const char *title);
void Phead(const char *heading, const char *title);
void Pp1(const char *label, const char *format, int offset);
void Pp2(const char *label, const char *format, int offset);
void Pp3(const char *label, const char *format, int offset);
void PpB1(const char *label, const char *format, int offset, int mask);
void PpBS1(const char *label, const char *format, int offset, int mask, int shift);

// The table of known mode pages.
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
// Every entry of the table, in page-code order.
std::span<const PageEntry> page_table_entries();
// One row per field of the page, in table order.
void print_page_fields(const PageEntry &page);
