// READ CAPACITY and INQUIRY answers, and the hex dump.
#include "targetscan/targetscan.h"

#include <cstdio>

void print_capacity(const unsigned char *answer)
{
    // The last block address + 1, unsigned and wide: an address of 2^31 or
    // more (or 0xFFFFFFFF) is a real disk size, not a negative number or zero.
    unsigned long long last =
        (unsigned long long)answer[0] << 24 | answer[1] << 16 | answer[2] << 8 | answer[3];
    printf("READ_CAPACITY:\n");
    printf("    Capacity:               %llu\n", last + 1);
}

static const char *yes_no(int bit)
{
    return bit ? "Yes" : "No";
}

static const char *qualifier_text(int q)
{
    switch (q) {
    case 0: return " currently connected\n";
    case 1: return " supported but not connected\n";
    case 3: return " not supported put to unkown ;-(\n";
    case 4: return " Vendor Unique\n";
    default: return " Not Known Value!\n";
    }
}

static const char *const device_types[] = {
    " direct\n",   " sequential\n", " printer\n", " processor\n", " worm\n",
    " rodirect\n", " scanner\n",    " optical\n", " changer\n",   " comm\n",
};

static const char *device_type_text(int t)
{
    if (t < 10) return device_types[t];
    if (t == 31) return " unknown\n";
    return " Not Known Device Type!\n";
}

static const char *format_text(int f)
{
    switch (f) {
    case 0: return " (Level 0)\n";
    case 1: return " (CCS)\n";
    case 2: return " (SCSI-2)\n";
    default: return " (Not Known Value!)\n";
    }
}

int print_inquiry(const unsigned char *a)
{
    const char *text = (const char *)a;
    int qualifier = a[0] >> 5 & 7;
    int type = a[0] & 0x1F;
    printf("INQUIRY:\n");
    printf("    Peripheral qualifier:   %d", qualifier);
    fputs(qualifier_text(qualifier), stdout);
    printf("    Peripheral device-type: %d", type);
    fputs(device_type_text(type), stdout);
    printf("    Device-type modifier:   %d\n", a[1] & 0x7F);
    printf("    Removable medium:       %s\n", yes_no(a[1] & 0x80));
    printf("    ISO version:            %d\n", a[2] >> 6 & 3);
    printf("    ECMA version:           %d\n", a[2] >> 3 & 7);
    printf("    ANSI version:           %d\n", a[2] & 7);
    printf("    Async event notific.    %s\n", yes_no(a[3] & 0x80));
    printf("    Term.i/o process msg:   %s\n", yes_no(a[3] & 0x40));
    printf("    Response data format:   %d", a[3] & 0x0F);
    fputs(format_text(a[3] & 0x0F), stdout);
    printf("    Relative addressing:    %s\n", yes_no(a[7] & 0x80));
    printf("    Wide bus 32:            %s\n", yes_no(a[7] & 0x40));
    printf("    Wide bus 16:            %s\n", yes_no(a[7] & 0x20));
    printf("    Sync transfer:          %s\n", yes_no(a[7] & 0x10));
    printf("    Linked commands:        %s\n", yes_no(a[7] & 0x08));
    printf("    Command queing:         %s\n", yes_no(a[7] & 0x02));
    printf("    Soft reset:             %s\n", yes_no(a[7] & 0x01));
    // The precisions bound every read to the field, and a zero byte ends it early.
    printf("    Vendor:                 '%-8.8s'\n", text + 8);
    printf("    Product:                '%-16.16s'\n", text + 16);
    printf("    Revision:               '%-4.4s'\n", text + 32);
    printf("    Comment1:               '%-20.20s'\n", text + 36);
    printf("    Comment2:               '%-40.40s'\n", text + 56);
    printf("    Comment3:               '%-40.40s'\n", text + 96);
    return type;
}

void HexDump(const unsigned char *p, int len, const char *label)
{
    // Each row is put together first: standard output is unbuffered, so
    // this is one write per row rather than one per character.
    for (int row = 0; len > 0; len -= 16, row += 16) {
        const unsigned char *r = p + row;
        char line[96];
        int n;
        if (row == 0)
            n = snprintf(line, sizeof line, "%-8.8s |", label);
        else
            n = snprintf(line, sizeof line, "         |");
        for (int i = 0; i < 16; i++) {
            if (i < len)
                n += snprintf(line + n, sizeof line - n, "%02x ", r[i]);
            else
                n += snprintf(line + n, sizeof line - n, "   ");
        }
        n += snprintf(line + n, sizeof line - n, "   |");
        for (int i = 0; i < 16; i++) line[n++] = i < len && r[i] >= 32 && r[i] <= 126 ? r[i] : ' ';
        snprintf(line + n, sizeof line - n, "|\n");
        fputs(line, stdout);
    }
}
