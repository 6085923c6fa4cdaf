// Mode data: the four copies side by side, header, block descriptor, pages.
#include "targetscan/targetscan.h"

#include <climits>
#include <cstdio>
#include <cstring>

unsigned char bcur[SCSI_BUFFER_SIZE], bchg[SCSI_BUFFER_SIZE], bdef[SCSI_BUFFER_SIZE],
    bsav[SCSI_BUFFER_SIZE];
int icur, ichg, idef, isav;

// Field offsets at or past this are beyond the page being printed: the row
// shows only its label. Header and block-descriptor rows are never cut.
static int page_end = INT_MAX;

static unsigned char *const buffers[4] = {bcur, bchg, bdef, bsav};

void load_mode_answer(int page_control, const unsigned char *answer, size_t len)
{
    if (page_control < 0 || page_control > 3) return;
    unsigned char *b = buffers[page_control];
    memset(b, 0, SCSI_BUFFER_SIZE);
    if (len > SCSI_BUFFER_SIZE) len = SCSI_BUFFER_SIZE;
    if (len > 0) memcpy(b, answer, len);
}

static void set_index(int at)
{
    icur = ichg = idef = isav = at;
}

void Pphead(const char *heading, const char *title)
{
    if (*title) printf("\n    %s", title);
    printf("\n%-32.32s", heading);
    printf("%12s", "curr");
    printf("%12s", "chg");
    printf("%12s", "def");
    printf("%12s\n", "save");
}

void Phead(const char *heading, const char *title)
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

static void print_values(const char *const text[4])
{
    printf("%12s", text[0]);
    printf("%12s", text[1]);
    printf("%12s", text[2]);
    printf("%12s\n", text[3]);
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

// The field's bytes from each copy, at each copy's own index.
static const unsigned char *at(int copy, int offset)
{
    static int *const index[4] = {&icur, &ichg, &idef, &isav};
    return buffers[copy] + *index[copy] + offset;
}

void Pp1(const char *label, const char *format, int offset)
{
    if (!row_start(label, offset)) return;
    int v[4];
    for (int i = 0; i < 4; i++) v[i] = at(i, offset)[0];
    print_numbers(format, v);
}

void Pp2(const char *label, const char *format, int offset)
{
    if (!row_start(label, offset)) return;
    int v[4];
    for (int i = 0; i < 4; i++) {
        const unsigned char *b = at(i, offset);
        v[i] = b[0] * 256 + b[1];
    }
    print_numbers(format, v);
}

void Pp3(const char *label, const char *format, int offset)
{
    if (!row_start(label, offset)) return;
    int v[4];
    for (int i = 0; i < 4; i++) {
        const unsigned char *b = at(i, offset);
        v[i] = b[0] * 65536 + b[1] * 256 + b[2];
    }
    print_numbers(format, v);
}

void PpB1(const char *label, const char *format, int offset, int mask)
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

void PpBS1(const char *label, const char *format, int offset, int mask, int shift)
{
    if (!row_start(label, offset)) return;
    int v[4];
    for (int i = 0; i < 4; i++) v[i] = (at(i, offset)[0] >> shift) & mask;
    print_numbers(format, v);
}

void print_page_fields(const PageEntry &page)
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

static bool same_in_all(int offset)
{
    unsigned char s = bsav[isav + offset];
    return s == bcur[icur + offset] && s == bchg[ichg + offset] && s == bdef[idef + offset];
}

void print_mode_data(int device_type)
{
    page_end = INT_MAX;
    set_index(0);
    if (!same_in_all(0)) {
        printf("unequal page length in MODE SENSE PAGE\n");
        return;
    }
    Pphead("*** Mode Sense:", "");
    Pp1("Medium Type", "%d", 1);
    Pp1("Device-specific", "%d", 2);
    Pp1("Length of pages(@8)", "%d", 3);

    set_index(4);
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
        set_index(pos);
        int code = bdef[idef] & 0x3F;
        snprintf(heading, sizeof heading, "*** Page 0x%02x:", code);
        if (!same_in_all(1)) {
            printf("unequal page length in MODE SENSE PAGE\n");
            page_end = INT_MAX;
            return;
        }
        const PageEntry *page = find_page(code, device_type);
        if (page == nullptr) {
            Phead(heading, "");
        } else if (page->fields == nullptr) {
            Phead(heading, page->title);
        } else {
            Pphead(heading, page->title);
            page_end = bcur[icur + 1] + 2;
            print_page_fields(*page);
            page_end = INT_MAX;
        }
        HexDump(bcur + icur, bcur[icur + 1] + 2, "curr");
        HexDump(bchg + ichg, bchg[ichg + 1] + 2, "chg");
        HexDump(bdef + idef, bdef[idef + 1] + 2, "def");
        HexDump(bsav + isav, bsav[isav + 1] + 2, "save");
    }
}
