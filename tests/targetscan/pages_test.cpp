// Every page of the table, walked with four different copies, against the
// reviewed listing in constructed/all_pages.txt; and answers of random bytes.
#include "targetscan/targetscan.h"
#include "tests/targetscan/modedata.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

namespace
{

// Four copies of one page of 30 body bytes: the current copy holds each
// byte's own offset, the changeable copy all ones, the default copy zeros and
// the saved copy 0xa5, so offsets, masks and shifts all show in the rows.
void load_page(int code)
{
    Bytes cur(30), chg(30, 0xff), def(30, 0x00), sav(30, 0xa5);
    for (int k = 0; k < 30; k++) cur[k] = (uint8_t)(k + 2);
    load_four(mode_answer({page((uint8_t)code, cur)}), mode_answer({page((uint8_t)code, chg)}),
              mode_answer({page((uint8_t)code, def)}), mode_answer({page((uint8_t)code, sav)}));
}

std::string listing_of_every_page()
{
    std::string all;
    // Every entry of the table once, in table order: page 3 has one for
    // scanners (device type 6) and one for every other device.
    const PageEntry *last = nullptr;
    for (int code = 0; code < 64; code++) {
        for (int type : {6, 0}) {
            const PageEntry *p = find_page(code, type);
            if (!p || p == last) continue;
            last = p;
            load_page(code);
            all += capture_stdout([&] { print_mode_data(type); });
        }
    }
    return all;
}

} // namespace

TEST(PageTable, EveryPageAgainstTheReviewedListing)
{
    std::string path =
        std::string(SUITE_SOURCE_DIR) + "/tests/targetscan/constructed/all_pages.txt";
    std::string got = listing_of_every_page();
    if (getenv("TARGETSCAN_WRITE_LISTING")) {
        FILE *f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(got.c_str(), f);
        fclose(f);
    }
    Bytes want = read_bytes(path);
    ASSERT_FALSE(want.empty()) << path;
    EXPECT_EQ(got, std::string(want.begin(), want.end()));
}

TEST(PageTable, CodesOutsideTheTableHaveNoEntry)
{
    for (int code : {0, 15, 21, 28, 32, 55, 57, 63}) EXPECT_EQ(find_page(code, 0), nullptr) << code;
}

TEST(PageTable, RandomAnswersNeverReadOutsideTheBuffers)
{
    // Bytes of no device: the walk must stay inside the 8000-byte buffers
    // whatever the lengths say (the sanitizer build checks the reads).
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; round++) {
        Bytes a(SCSI_BUFFER_SIZE);
        for (auto &b : a) b = (uint8_t)rng();
        a[3] = 8;
        if (round % 2) a[0] = 255;
        load_all(a);
        std::string out = capture_stdout([&] { print_mode_data(round % 8); });
        EXPECT_FALSE(out.empty());
    }
    for (int len : {0, 1, 2, 3, 254, 255}) {
        Bytes a(SCSI_BUFFER_SIZE, 0xff);
        a[0] = (uint8_t)len;
        a[3] = 8;
        load_all(a);
        EXPECT_FALSE(capture_stdout([&] { print_mode_data(0); }).empty());
    }
}
