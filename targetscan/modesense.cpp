// Mode data: the four copies side by side, header, block descriptor, pages.
#include "targetscan/targetscan.h"

#include <climits>
#include <cstdio>

unsigned char bcur[SCSI_BUFFER_SIZE], bchg[SCSI_BUFFER_SIZE], bdef[SCSI_BUFFER_SIZE],
    bsav[SCSI_BUFFER_SIZE];

// Offset of the block being printed (header, block descriptor or page): the
// same in all four copies.
static int iblock;

// Field offsets at or past this are beyond the page being printed: the row
// shows only its label. Set only while a page's fields print: header and
// block-descriptor rows are never cut.
static int page_end = INT_MAX;

static unsigned char *const buffers[4] = {bcur, bchg, bdef, bsav};
// Each copy's column heading and dump label.
static const char *const copy_name[4] = {"curr", "chg", "def", "save"};

static void print_values(const char *const text[4])
{
    printf("%12s", text[0]);
    printf("%12s", text[1]);
    printf("%12s", text[2]);
    printf("%12s\n", text[3]);
}

static void Pphead(const char *heading, const char *title)
{
    if (*title) printf("\n    %s", title);
    printf("\n%-32.32s", heading);
    print_values(copy_name);
}

static void Phead(const char *heading, const char *title)
{
    if (*title) printf("\n    %s", title);
    printf("\n%-32.32s\n", heading);
}

// The label, and false when the field lies past the page's end.
static bool row_start(const char *label, int offset)
{
    printf("%-32.32s", label);
    if (offset >= page_end) {
        printf("\n");
        return false;
    }
    return true;
}

static void print_numbers(const char *format, const int value[4])
{
    char text[4][20];
    const char *t[4];
    for (int i = 0; i < 4; i++) {
        snprintf(text[i], sizeof text[i], format, value[i]);
        t[i] = text[i];
    }
    print_values(t);
}

// The field's bytes in one copy.
static const unsigned char *at(int copy, int offset)
{
    return buffers[copy] + iblock + offset;
}

// A big-endian number of width bytes from each copy.
static void Ppn(const char *label, const char *format, int offset, int width)
{
    if (!row_start(label, offset)) return;
    int v[4];
    for (int i = 0; i < 4; i++) {
        v[i] = 0;
        for (int k = 0; k < width; k++) v[i] = v[i] * 256 + at(i, offset)[k];
    }
    print_numbers(format, v);
}

static void Pp1(const char *label, const char *format, int offset)
{
    Ppn(label, format, offset, 1);
}

static void Pp2(const char *label, const char *format, int offset)
{
    Ppn(label, format, offset, 2);
}

static void Pp3(const char *label, const char *format, int offset)
{
    Ppn(label, format, offset, 3);
}

static void PpB1(const char *label, const char *format, int offset, int mask)
{
    if (!row_start(label, offset)) return;
    char text[4][20];
    const char *t[4];
    for (int i = 0; i < 4; i++) {
        snprintf(text[i], sizeof text[i], format, (at(i, offset)[0] & mask) ? "True" : "False");
        t[i] = text[i];
    }
    print_values(t);
}

static void PpBS1(const char *label, const char *format, int offset, int mask, int shift)
{
    if (!row_start(label, offset)) return;
    int v[4];
    for (int i = 0; i < 4; i++) v[i] = (at(i, offset)[0] >> shift) & mask;
    print_numbers(format, v);
}

static void print_page_fields(const PageEntry &page)
{
    for (int i = 0; i < page.nfields; i++) {
        const PageField &f = page.fields[i];
        switch (f.printer) {
        case P1: Pp1(f.label, f.format, f.offset); break;
        case P2: Pp2(f.label, f.format, f.offset); break;
        case P3: Pp3(f.label, f.format, f.offset); break;
        case B1: PpB1(f.label, f.format, f.offset, f.mask); break;
        case BS1: PpBS1(f.label, f.format, f.offset, f.mask, f.shift); break;
        }
    }
}

// The saved copy's byte agrees with the other three.
static bool same_in_all(int offset)
{
    unsigned char s = at(3, offset)[0];
    return s == at(0, offset)[0] && s == at(1, offset)[0] && s == at(2, offset)[0];
}

void print_mode_data(int device_type)
{
    iblock = 0;
    if (!same_in_all(0)) {
        printf("unequal page length in MODE SENSE PAGE\n");
        return;
    }
    Pphead("*** Mode Sense:", "");
    Pp1("Medium Type", "%d", 1);
    Pp1("Device-specific", "%d", 2);
    Pp1("Length of pages(@8)", "%d", 3);

    iblock = 4;
    if (bsav[3] != 8 || bcur[3] != 8 || bchg[3] != 8 || bdef[3] != 8) {
        printf("more than one page in MODE SENSE PAGE\n");
        return;
    }
    Pp1("Density code", "%d", 0);
    Pp3("Number of blocks", "%d", 1);
    Pp3("Block length", "%d", 5);

    // The mode data length is one byte, so every page starts below 256 and
    // every field and dump stays well inside the buffers.
    char heading[32];
    for (int pos = 12; pos < bdef[0]; pos += bdef[pos + 1] + 2) {
        iblock = pos;
        int code = bdef[iblock] & 0x3F;
        snprintf(heading, sizeof heading, "*** Page 0x%02x:", code);
        if (!same_in_all(1)) {
            printf("unequal page length in MODE SENSE PAGE\n");
            return;
        }
        const PageEntry *page = find_page(code, device_type);
        if (page == nullptr) {
            Phead(heading, "");
        } else if (page->fields == nullptr) {
            Phead(heading, page->title);
        } else {
            Pphead(heading, page->title);
            page_end = bcur[iblock + 1] + 2;
            print_page_fields(*page);
            page_end = INT_MAX;
        }
        for (int i = 0; i < 4; i++) HexDump(at(i, 0), at(i, 0)[1] + 2, copy_name[i]);
    }
}
