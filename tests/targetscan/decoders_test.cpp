// The decoders on answers in memory, against reviewed listings in listings/:
// constructed answers with values worked out by hand (decoders.txt), every
// page of the table (all_pages.txt), and answers saved from real SCSI
// implementations in the lab's virtual machine (rig.txt, from fixtures/).
#include "targetscan/targetscan.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<unsigned char>;

// Hex bytes separated by blanks; "00*18" is 18 of them.
Bytes hex(const std::string &text)
{
    Bytes b;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        size_t star = word.find('*');
        int count = star == std::string::npos ? 1 : std::stoi(word.substr(star + 1));
        b.insert(b.end(), count, (unsigned char)std::stoul(word.substr(0, star), nullptr, 16));
    }
    return b;
}

// An answer in an 8000-byte buffer, zero-filled past its end as a request leaves it.
void load(unsigned char *buffer, const Bytes &answer)
{
    memset(buffer, 0, SCSI_BUFFER_SIZE);
    memcpy(buffer, answer.data(), std::min(answer.size(), (size_t)SCSI_BUFFER_SIZE));
}

// What f prints, under a heading.
std::string listed(const std::string &heading, const std::function<void()> &f)
{
    std::string out;
    in_child(f, &out);
    return "## " + heading + "\n" + out;
}

// The mode data of four copies (chg, def and sav, when empty, are cur).
std::string mode_listing(const std::string &name, int type, const std::string &cur,
                         const std::string &chg = "", const std::string &def = "",
                         const std::string &sav = "")
{
    load(bcur, hex(cur));
    load(bchg, hex(chg.empty() ? cur : chg));
    load(bdef, hex(def.empty() ? cur : def));
    load(bsav, hex(sav.empty() ? cur : sav));
    return listed(name, [&] { print_mode_data(type); });
}

std::string answer_listing(const std::string &name, const std::string &answer, bool capacity)
{
    static unsigned char buffer[SCSI_BUFFER_SIZE];
    load(buffer, hex(answer));
    return listed(name, [&] { capacity ? print_capacity(buffer) : (void)print_inquiry(buffer); });
}

const std::string descriptor = "00 00 00 00 00 00 02 00"; // no blocks of 512 bytes

} // namespace

TEST(Decoders, ConstructedAnswersAgainstTheReviewedListing)
{
    std::string all;
    // READ CAPACITY: the last block address + 1, unsigned and wide.
    for (const char *a : {"00 00 10 00 00 00 02 00", "00 00 00 00", "7f ff ff fe", "7f ff ff ff",
                          "ff ff ff fe", "ff ff ff ff"})
        all += answer_listing(std::string("capacity ") + a, a, true);
    // INQUIRY: a 36-byte disk answer; every bit field set the other way; text
    // fields cut at their width or at a zero byte; an all-zero answer.
    const char *disk = "00 80 05 02 00 00 00 32 51 45 4d 55 20 20 20 20 51 45 4d 55 20 48 41 52 "
                       "44 44 49 53 4b 20 20 20 32 2e 35 2b",
               *bits = "00 7f eb c1 00 00 00 c9", *text = "00 00 00 05 78 78 78 00 41 42 00 78*189",
               *zero = "00*36";
    for (const char *a : {disk, bits, text, zero}) all += answer_listing("inquiry", a, false);
    // Every peripheral qualifier and device type.
    for (int t = 0; t < 32; t++) {
        char a[16];
        snprintf(a, sizeof a, "%02x", t | (t % 8) << 5);
        std::string out = answer_listing(std::string("inquiry ") + a, a, false);
        for (auto &line : split_lines(out))
            if (!contains(line, "INQUIRY") && (line[0] == '#' || contains(line, "Peripheral")))
                all += line + "\n";
    }
    // HexDump: nothing for no bytes; a full row; a short second row under a cut label.
    Bytes row = hex("00 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f 7f");
    Bytes two = hex("30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f 40");
    all += listed("HexDump 0, -5, 16, 17", [&] {
        HexDump(row.data(), 0, "curr");
        HexDump(row.data(), -5, "curr");
        HexDump(row.data(), 16, "curr");
        HexDump(two.data(), 17, "a-very-long-label");
    });
    // Mode data: header, block descriptor, the checks between the copies.
    const std::string d = descriptor,
                      caching = "17 00 00 08 " + d + " 08 0a 05 12 00 20 01 00 ff ff 00 10";
    all += mode_listing("no pages", 0, "0b 00 10 08 00 12 34 56 00 00 02 00");
    all += mode_listing("block counts differ", 0, "0b 00 00 08 00 00 03 e8 00 00 02 00",
                        "0b 00 00 08 00 00 00 00 00 00 02 00");
    all += mode_listing("saved mode data length differs", 0, caching, "", "",
                        "0b 00 00 08 " + d + " 08 0a 00*10");
    all += mode_listing("changeable mode data length differs", 0, caching,
                        "0b 00 00 08 " + d + " 08 0a 00*10");
    all += mode_listing("default block descriptor length 16", 0, "0b 00 00 08 " + d, "",
                        "0b 00 00 10 " + d);
    // Pages: whole block with one changeable bit; a field past the page's
    // end; a 16-bit field on its last byte; the page code's top bits; a page
    // length that differs; page 3 on a scanner and on a disk; labels cut at
    // 32; title-only pages and codes outside the table.
    all += mode_listing("caching page", 0, caching,
                        "17 00 00 08 " + d + " 08 0a 04 12 00 20 01 00 ff ff 00 10");
    all += mode_listing("caching page of length 8", 0, "15 00 00 08 " + d + " 08 08 01*8");
    all += mode_listing("caching page of length 9", 0, "18 00 00 08 " + d + " 08 09 00*8 02 3c 00");
    all += mode_listing("page code 0xc8", 0, "1f 00 00 08 " + d + " c8 12 00*18");
    all += mode_listing("changeable length of page 8 differs", 0,
                        "2b 00 00 08 " + d + " 01 0a 00*10 08 12 00*18",
                        "2b 00 00 08 " + d + " 01 0a 00*10 08 0a 00*18");
    const std::string page3 = "23 00 00 08 " + d + " 03 16 12 00 03 e8 00*14 d0 00*3";
    all += mode_listing("page 3 on a scanner", 6, page3);
    all += mode_listing("page 3 on a disk", 0, page3);
    all += mode_listing("long labels", 0, "2f 00 00 08 " + d + " 1d 12 00*18 10 0e 00*14");
    all +=
        mode_listing("title only and unknown", 0, "13 00 00 08 " + d + " 12 02 01 02 00 00 1e 00");
    all += mode_listing("codes outside the table", 0,
                        "1b 00 00 08 " + d + " 00 00 0f 00 15 00 1c 00 20 00 37 00 39 00 3f 00");
    EXPECT_EQ(match_transcript(all, "tests/targetscan/listings/decoders.txt"), "");
}

TEST(Decoders, EveryPageOfTheTable)
{
    // Four copies of each page of 30 body bytes: the current copy holds each
    // byte's own offset, the changeable copy all ones, the default copy
    // zeros and the saved copy 0xa5, so offsets, masks and shifts all show.
    // Page 3 has one entry for scanners (device type 6) and one for the rest.
    auto x = [](int v) {
        char c[4];
        snprintf(c, sizeof c, "%02x", v);
        return std::string(c);
    };
    std::string all, own;
    for (int k = 2; k < 32; k++) own += " " + x(k);
    const PageEntry *last = nullptr;
    for (int code = 0; code < 64; code++) {
        for (int type : {6, 0}) {
            const PageEntry *p = find_page(code, type);
            if (!p || p == last) continue;
            last = p;
            std::string head = "2b 00 00 08 " + descriptor + " " + x(code) + " 1e";
            all += mode_listing(p->title, type, head + own, head + " ff*30", head + " 00*30",
                                head + " a5*30");
        }
    }
    EXPECT_EQ(match_transcript(all, "tests/targetscan/listings/all_pages.txt"), "");
}

TEST(Decoders, RigAnswersAgainstTheReviewedListing)
{
    // None of the rig's devices keeps saved values (page control 3 is
    // refused): the saved copy is the default one, as a device that saved
    // its defaults would answer.
    std::string all, dir = std::string(SUITE_SOURCE_DIR) + "/tests/targetscan/fixtures/";
    for (const char *impl : {"scsi_debug", "virtio-scsi", "lsi53c895a", "megasas"}) {
        auto answer = [&](const char *command) {
            std::string s = read_file(dir + impl + "." + command + ".bin");
            return Bytes(s.begin(), s.end());
        };
        static unsigned char data[SCSI_BUFFER_SIZE];
        load(data, answer("readcap"));
        all += listed(std::string(impl) + " capacity", [&] { print_capacity(data); });
        load(data, answer("inquiry"));
        all += listed(std::string(impl) + " inquiry", [&] { print_inquiry(data); });
        load(bcur, answer("mode-pc0"));
        load(bchg, answer("mode-pc1"));
        load(bdef, answer("mode-pc2"));
        load(bsav, answer("mode-pc2"));
        all += listed(std::string(impl) + " mode data", [&] { print_mode_data(0); });
    }
    EXPECT_EQ(match_transcript(all, "tests/targetscan/listings/rig.txt"), "");
}

TEST(Decoders, RandomAnswersNeverReadOutsideTheBuffers)
{
    // Bytes of no device, the same in all four copies: the walk must stay
    // inside the 8000-byte buffers whatever the lengths say (the sanitizer
    // build checks the reads); then lengths at the ends of their range.
    std::mt19937 rng(12345);
    const int ends[] = {0, 1, 2, 3, 254, 255};
    for (int round = 0; round < 306; round++) {
        Bytes a(SCSI_BUFFER_SIZE, 0xff);
        if (round < 300) {
            for (auto &b : a) b = (unsigned char)rng();
            if (round % 2) a[0] = 255;
        } else {
            a[0] = (unsigned char)ends[round - 300];
        }
        a[3] = 8;
        for (unsigned char *b : {bcur, bchg, bdef, bsav}) load(b, a);
        std::string out;
        EXPECT_EQ(in_child([&] { print_mode_data(round % 8); }, &out), 0) << round;
        EXPECT_FALSE(out.empty()) << round;
    }
}
