// The decoders on constructed answers: READ CAPACITY, INQUIRY, the hex dump
// and the mode-data table.
#include "targetscan/targetscan.h"
#include "tests/targetscan/modedata.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace
{

std::string capacity_text(const Bytes &answer)
{
    Bytes a = answer;
    a.resize(SCSI_BUFFER_SIZE);
    return capture_stdout([&] { print_capacity(a.data()); });
}

std::string inquiry_text(const Bytes &answer, int *type = nullptr)
{
    Bytes a = answer;
    a.resize(SCSI_BUFFER_SIZE);
    int t = -1;
    std::string out = capture_stdout([&] { t = print_inquiry(a.data()); });
    if (type) *type = t;
    return out;
}

std::string mode_text(int device_type = 0)
{
    return capture_stdout([&] { print_mode_data(device_type); });
}

// One four-column row as the table lays it out.
std::string row(const char *label, const char *a, const char *b, const char *c, const char *d)
{
    char line[200];
    snprintf(line, sizeof line, "%-32.32s%12s%12s%12s%12s\n", label, a, b, c, d);
    return line;
}
std::string row(const char *label, const char *v)
{
    return row(label, v, v, v, v);
}

const std::string mode_heading =
    "\n*** Mode Sense:                         curr         chg         def"
    "        save\n";

std::string header_rows(const char *medium = "0", const char *specific = "0")
{
    return mode_heading + row("Medium Type", medium) + row("Device-specific", specific) +
           row("Length of pages(@8)", "8");
}

std::string descriptor_rows(const char *blocks = "0", const char *length = "512")
{
    return row("Density code", "0") + row("Number of blocks", blocks) + row("Block length", length);
}

std::string dumps(const std::string &one_row_hex, const std::string &one_row_text)
{
    std::string s;
    for (const char *label : {"curr    ", "chg     ", "def     ", "save    "})
        s += std::string(label) + " |" + one_row_hex + "   |" + one_row_text + "|\n";
    return s;
}

} // namespace

// ---- READ CAPACITY -------------------------------------------------------

TEST(Capacity, LastAddressPlusOne)
{
    EXPECT_EQ(capacity_text({0x00, 0x00, 0x10, 0x00, 0, 0, 2, 0}),
              "READ_CAPACITY:\n    Capacity:               4097\n");
    EXPECT_EQ(capacity_text({0, 0, 0, 0}), "READ_CAPACITY:\n    Capacity:               1\n");
}

TEST(Capacity, LargeDisksStayPositiveAndWhole)
{
    // 2^31 blocks and more used to print negative, and 0xFFFFFFFF as 0.
    EXPECT_EQ(capacity_text({0xff, 0xff, 0xff, 0xfe}),
              "READ_CAPACITY:\n    Capacity:               4294967295\n");
    EXPECT_EQ(capacity_text({0x7f, 0xff, 0xff, 0xff}),
              "READ_CAPACITY:\n    Capacity:               2147483648\n");
    EXPECT_EQ(capacity_text({0xff, 0xff, 0xff, 0xff}),
              "READ_CAPACITY:\n    Capacity:               4294967296\n");
    EXPECT_EQ(capacity_text({0x7f, 0xff, 0xff, 0xfe}),
              "READ_CAPACITY:\n    Capacity:               2147483647\n");
}

// ---- INQUIRY -------------------------------------------------------------

static Bytes disk_inquiry()
{
    Bytes a(36, 0);
    a[0] = 0x00;
    a[1] = 0x80; // removable
    a[2] = 0x05; // ANSI 5
    a[3] = 0x02; // SCSI-2 format
    a[7] = 0x32; // wide 16, sync, command queuing
    memcpy(&a[8], "QEMU    ", 8);
    memcpy(&a[16], "QEMU HARDDISK   ", 16);
    memcpy(&a[32], "2.5+", 4);
    return a;
}

TEST(Inquiry, ThirtySixByteAnswerWholeText)
{
    int type = -1;
    std::string out = inquiry_text(disk_inquiry(), &type);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(out, "INQUIRY:\n"
                   "    Peripheral qualifier:   0 currently connected\n"
                   "    Peripheral device-type: 0 direct\n"
                   "    Device-type modifier:   0\n"
                   "    Removable medium:       Yes\n"
                   "    ISO version:            0\n"
                   "    ECMA version:           0\n"
                   "    ANSI version:           5\n"
                   "    Async event notific.    No\n"
                   "    Term.i/o process msg:   No\n"
                   "    Response data format:   2 (SCSI-2)\n"
                   "    Relative addressing:    No\n"
                   "    Wide bus 32:            No\n"
                   "    Wide bus 16:            Yes\n"
                   "    Sync transfer:          Yes\n"
                   "    Linked commands:        No\n"
                   "    Command queing:         Yes\n"
                   "    Soft reset:             No\n"
                   "    Vendor:                 'QEMU    '\n"
                   "    Product:                'QEMU HARDDISK   '\n"
                   "    Revision:               '2.5+'\n"
                   "    Comment1:               '                    '\n"
                   "    Comment2:               '                                        '\n"
                   "    Comment3:               '                                        '\n");
}

TEST(Inquiry, QualifierAndTypeTexts)
{
    Bytes a(36, 0);
    a[0] = 0x3F;
    int type = -1;
    std::string out = inquiry_text(a, &type);
    EXPECT_EQ(type, 31);
    EXPECT_NE(out.find("    Peripheral qualifier:   1 supported but not connected\n"
                       "    Peripheral device-type: 31 unknown\n"),
              std::string::npos)
        << out;
    a[0] = 0x80;
    EXPECT_NE(inquiry_text(a).find("    Peripheral qualifier:   4 Vendor Unique\n"
                                   "    Peripheral device-type: 0 direct\n"),
              std::string::npos);
    a[0] = 0xA0;
    EXPECT_NE(inquiry_text(a).find("    Peripheral qualifier:   5 Not Known Value!\n"),
              std::string::npos);
    a[0] = 0x60;
    EXPECT_NE(
        inquiry_text(a).find("    Peripheral qualifier:   3 not supported put to unkown ;-(\n"),
        std::string::npos);

    const char *names[] = {" direct",   " sequential", " printer", " processor", " worm",
                           " rodirect", " scanner",    " optical", " changer",   " comm"};
    for (int t = 0; t < 32; t++) {
        a[0] = (uint8_t)t;
        std::string want = "    Peripheral device-type: " + std::to_string(t) +
                           (t < 10    ? names[t]
                            : t == 31 ? " unknown"
                                      : " Not Known Device Type!") +
                           "\n";
        EXPECT_NE(inquiry_text(a).find(want), std::string::npos) << want;
    }
}

TEST(Inquiry, BitFieldsAndFormats)
{
    Bytes a(36, 0);
    a[1] = 0x7F;               // modifier 127, fixed medium
    a[2] = 0xC0 | 0x28 | 0x03; // ISO 3, ECMA 5, ANSI 3
    a[3] = 0xC1;               // AEN, TrmIOP, CCS
    a[7] = 0xC9;               // RelAdr, Wide32, Linked, SftRe (bit 2 never printed)
    std::string out = inquiry_text(a);
    for (const char *line :
         {"    Device-type modifier:   127\n", "    Removable medium:       No\n",
          "    ISO version:            3\n", "    ECMA version:           5\n",
          "    ANSI version:           3\n", "    Async event notific.    Yes\n",
          "    Term.i/o process msg:   Yes\n", "    Response data format:   1 (CCS)\n",
          "    Relative addressing:    Yes\n", "    Wide bus 32:            Yes\n",
          "    Wide bus 16:            No\n", "    Sync transfer:          No\n",
          "    Linked commands:        Yes\n", "    Command queing:         No\n",
          "    Soft reset:             Yes\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    a[3] = 0x00;
    EXPECT_NE(inquiry_text(a).find("    Response data format:   0 (Level 0)\n"), std::string::npos);
    a[3] = 0x05;
    EXPECT_NE(inquiry_text(a).find("    Response data format:   5 (Not Known Value!)\n"),
              std::string::npos);
}

TEST(Inquiry, TextFieldsCutAtWidthAndAtZero)
{
    Bytes a(200, 'x');
    a[0] = a[1] = a[2] = a[3] = a[7] = 0;
    memcpy(&a[8], "AB\0", 3); // vendor ends early at the zero byte
    std::string out = inquiry_text(a);
    EXPECT_NE(out.find("    Vendor:                 'AB      '\n"), std::string::npos);
    EXPECT_NE(out.find("    Product:                'xxxxxxxxxxxxxxxx'\n"), std::string::npos);
    EXPECT_NE(out.find("    Revision:               'xxxx'\n"), std::string::npos);
    EXPECT_NE(out.find("    Comment1:               '" + std::string(20, 'x') + "'\n"),
              std::string::npos);
    EXPECT_NE(out.find("    Comment3:               '" + std::string(40, 'x') + "'\n"),
              std::string::npos);
}

// ---- HexDump -------------------------------------------------------------

TEST(HexDump, NothingForZeroOrNegativeLength)
{
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(capture_stdout([&] { HexDump(b, 0, "curr"); }), "");
    EXPECT_EQ(capture_stdout([&] { HexDump(b, -5, "curr"); }), "");
}

TEST(HexDump, OneFullRow)
{
    uint8_t b[16];
    for (int i = 0; i < 16; i++) b[i] = (uint8_t)(0x41 + i);
    b[0] = 0x00;
    b[15] = 0x7f;
    EXPECT_EQ(capture_stdout([&] { HexDump(b, 16, "curr"); }),
              "curr     |00 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 7f    | BCDEFGHIJKLMNO |\n");
}

TEST(HexDump, SeventeenBytesPadTheSecondRow)
{
    uint8_t b[17];
    for (int i = 0; i < 17; i++) b[i] = (uint8_t)(0x30 + i);
    std::string out = capture_stdout([&] { HexDump(b, 17, "a-very-long-label"); });
    EXPECT_EQ(out,
              "a-very-l |30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f    |0123456789:;<=>?|\n"
              "         |40 " +
                  std::string(45, ' ') + "   |@" + std::string(15, ' ') + "|\n");
    // Every row has the same width: 10 + 48 + 4 + 16 + 2.
    EXPECT_EQ(out.size(), 2u * 80u);
}

// ---- Mode data: header, block descriptor, checks ---------------------------

TEST(ModeData, NoPagesGivesHeaderAndDescriptorOnly)
{
    Bytes a = mode_answer({}, 0, 0x10, 0x123456, 512);
    ASSERT_EQ(a[0], 11);
    load_all(a);
    EXPECT_EQ(mode_text(), header_rows("0", "16") + descriptor_rows("1193046", "512"));
}

TEST(ModeData, HeadingLineIsExact)
{
    load_all(mode_answer({}));
    std::string out = mode_text();
    EXPECT_EQ(out.substr(0, mode_heading.size()), mode_heading);
    EXPECT_EQ(out.substr(mode_heading.size(), 81),
              "Medium Type                                0           0           0           0\n");
}

TEST(ModeData, BlockLengthShownWhateverTheBlockCount)
{
    Bytes cur = mode_answer({}, 0, 0, 1000, 512), chg = mode_answer({}, 0, 0, 0, 512);
    load_four(cur, chg, cur, cur);
    std::string out = mode_text();
    EXPECT_NE(out.find(row("Block length", "512")), std::string::npos);
    EXPECT_NE(out.find(row("Number of blocks", "1000", "0", "1000", "1000")), std::string::npos);
}

TEST(ModeData, UnequalModeDataLengthsEndBeforeTheHeader)
{
    Bytes a = mode_answer({page(0x08, Bytes(10, 0))});
    Bytes b = a;
    b[0] = 11;
    load_four(a, a, a, b);
    EXPECT_EQ(mode_text(), "unequal page length in MODE SENSE PAGE\n");
    load_four(a, b, a, a);
    EXPECT_EQ(mode_text(), "unequal page length in MODE SENSE PAGE\n");
}

TEST(ModeData, BlockDescriptorLengthOtherThanEightEndsAfterHeaderRows)
{
    Bytes a = mode_answer({});
    Bytes b = a;
    b[3] = 16;
    load_four(a, a, b, a);
    EXPECT_EQ(mode_text(), mode_heading + row("Medium Type", "0") + row("Device-specific", "0") +
                               row("Length of pages(@8)", "8", "8", "16", "8") +
                               "more than one page in MODE SENSE PAGE\n");
}

// ---- Mode data: pages ----------------------------------------------------

static std::string caching_dump_row(const Bytes &p)
{
    std::string hex, text;
    for (size_t i = 0; i < 16; i++) {
        if (i >= p.size()) {
            hex += "   ";
            text += ' ';
            continue;
        }
        char cell[4];
        snprintf(cell, sizeof cell, "%02x ", p[i]);
        hex += cell;
        text += p[i] >= 32 && p[i] < 127 ? (char)p[i] : ' ';
    }
    return hex + "   |" + text;
}

TEST(ModePages, CachingPageWholeBlock)
{
    Bytes body{0x05, 0x12, 0x00, 0x20, 0x01, 0x00, 0xff, 0xff, 0x00, 0x10};
    Bytes p = page(0x08, body);
    Bytes cur = mode_answer({p}), chg = cur;
    chg[12 + 2] = 0x04; // only write-cache enable is changeable
    load_four(cur, chg, cur, cur);
    std::string dump_cur = caching_dump_row(p);
    Bytes pc = p;
    pc[2] = 0x04;
    std::string dump_chg = caching_dump_row(pc);
    EXPECT_EQ(
        mode_text(),
        header_rows() + descriptor_rows() + "\n    Caching Page\n" +
            "*** Page 0x08:                          curr         chg         def        save\n" +
            row("Write cache enable", "True") + row("Multiplication factor", "False") +
            row("Read cache disable", "True", "False", "True", "True") +
            row("Demand rd reten. pri", "1") + row("Write reten. pri", "2") +
            row("Dis. pre-fetch xfer-len", "32") + row("Minimum pre-fetch", "256") +
            row("Maximum pre-fetch:", "65535") + row("Max pre-fetch-ceil", "16") + "curr     |" +
            dump_cur + "|\n" + "chg      |" + dump_chg + "|\n" + "def      |" + dump_cur + "|\n" +
            "save     |" + dump_cur + "|\n");
}

TEST(ModePages, FieldPastThePageShowsOnlyItsLabel)
{
    // Length 8: the page is bytes 0-9, so the field at offset 10 is outside.
    load_all(mode_answer({page(0x08, Bytes(8, 0x01))}));
    std::string out = mode_text();
    EXPECT_NE(out.find(row("Maximum pre-fetch:", "257") + "Max pre-fetch-ceil" +
                       std::string(14, ' ') + "\ncurr     |"),
              std::string::npos)
        << out;
}

TEST(ModePages, SixteenBitFieldOnTheLastByteReadsPastThePage)
{
    // Length 9: byte 10 is the last of the page, byte 11 is the next page's code.
    load_all(mode_answer({page(0x08, {0, 0, 0, 0, 0, 0, 0, 0, 0x02}), page(0x3c, {})}));
    std::string out = mode_text();
    EXPECT_NE(out.find(row("Max pre-fetch-ceil", "572")), std::string::npos) << out; // 0x023c
    EXPECT_NE(out.find("\n*** Page 0x3c:                  \ncurr     |3c 00 "), std::string::npos);
}

TEST(ModePages, PageCodeIgnoresTheTopTwoBits)
{
    load_all(mode_answer({page(0x88, Bytes(18, 0))}));
    std::string out = mode_text();
    EXPECT_NE(out.find("\n    Caching Page\n*** Page 0x08:  "), std::string::npos) << out;
    EXPECT_NE(out.find(row("Write cache enable", "False")), std::string::npos);
    EXPECT_NE(out.find("curr     |88 12 00"), std::string::npos);
}

TEST(ModePages, UnequalPageLengthEndsAfterThePreviousPageDumps)
{
    Bytes p1 = page(0x01, Bytes(10, 0)), p8 = page(0x08, Bytes(18, 0));
    Bytes cur = mode_answer({p1, p8});
    Bytes chg = cur;
    chg[12 + 12 + 1] = 10; // the changeable copy says the caching page is shorter
    load_four(cur, chg, cur, cur);
    std::string out = mode_text();
    size_t end = out.rfind("save     |01 0a ");
    ASSERT_NE(end, std::string::npos) << out;
    EXPECT_EQ(out.substr(out.find('\n', end) + 1), "unequal page length in MODE SENSE PAGE\n");
    EXPECT_EQ(out.find("Caching Page"), std::string::npos);
}

TEST(ModePages, PageThreeOnAScannerAndOnADisk)
{
    Bytes body(22, 0);
    body[0] = 0x12; // byte 2
    body[2] = 0x03; // bytes 4-5
    body[3] = 0xe8;
    body[18] = 0xd0; // byte 20: soft, hard sectoring, surface
    load_all(mode_answer({page(0x03, body)}));

    std::string scanner = mode_text(6);
    EXPECT_NE(scanner.find("\n    Scanner Measurement Units Page\n*** Page 0x03:"),
              std::string::npos);
    EXPECT_NE(scanner.find(row("Basic Measurement Unit", "18") +
                           row("Measurement Unit Divisor", "1000") + "curr     |"),
              std::string::npos)
        << scanner;

    std::string disk = mode_text(0);
    EXPECT_NE(disk.find("\n    Direct Access Device Format Parameters\n*** Page 0x03:"),
              std::string::npos);
    EXPECT_NE(disk.find(row("Tracks/zone", "4608") + row("AltSect/zone", "1000") +
                        row("AltTrack/zone", "0") + row("AltTrack/LU", "0") +
                        row("Sect/track", "0") + row("Byte/sect", "0") + row("InterLeave", "0") +
                        row("Track skew", "0") + row("Cyl. skew", "0") +
                        row("Soft SECtor formatting", "True") +
                        row("Hard SECtor formatting", "True") + row("ReMovaBle", "False") +
                        row("SURFace allocation", "1") + "curr     |"),
              std::string::npos)
        << disk;
}

TEST(ModePages, LongLabelsAreCutAtThirtyTwo)
{
    load_all(mode_answer({page(0x1d, Bytes(18, 0)), page(0x10, Bytes(14, 0))}));
    std::string out = mode_text();
    for (const char *cut :
         {"First Data Transfer Element Addr", "Number of Medium Transport Eleme",
          "First Import Export Element Addr", "Select Data Compression Algorith"}) {
        std::string line = std::string(cut) + "           0           0           0           0\n";
        EXPECT_NE(out.find("\n" + line), std::string::npos) << cut;
    }
    EXPECT_EQ(out.find("Transfer Element Address"), std::string::npos);
    EXPECT_EQ(out.find("Compression Algorithm"), std::string::npos);
}

TEST(ModePages, TitleOnlyAndUnknownPages)
{
    load_all(mode_answer({page(0x12, {1, 2}), page(0x00, {}), page(0x1e, {})}));
    std::string out = mode_text();
    EXPECT_EQ(out, header_rows() + descriptor_rows() +
                       "\n    Medium Partition Page(2)\n*** Page 0x12:                  \n" +
                       dumps("12 02 01 02 " + std::string(36, ' '), std::string(16, ' ')) +
                       "\n*** Page 0x00:                  \n" +
                       dumps("00 00 " + std::string(42, ' '), std::string(16, ' ')) +
                       "\n    Transport Geometry Parameters\n*** Page 0x1e:                  \n" +
                       dumps("1e 00 " + std::string(42, ' '), std::string(16, ' ')));
}
