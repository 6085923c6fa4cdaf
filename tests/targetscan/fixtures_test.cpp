// The decoders on answers saved from real SCSI implementations in the
// virtual-machine rig (fixtures/IMPL.COMMAND.bin, see fixtures/README.md).
// None of those devices keeps saved values (page control 3 is refused), so
// the saved-values copy here is the default-values copy, as a device that
// saved its defaults would answer.
#include "targetscan/targetscan.h"
#include "tests/targetscan/modedata.h"

#include <cctype>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

// TARGETSCAN_FIXTURES names another directory of the same files (a fresh
// survey of the rig, say).
std::string fixture_dir()
{
    const char *env = getenv("TARGETSCAN_FIXTURES");
    return env && *env ? std::string(env) + "/"
                       : std::string(SUITE_SOURCE_DIR) + "/tests/targetscan/fixtures/";
}

struct Device {
    const char *impl;
    const char *vendor, *product; // as printed, blank-padded
    std::vector<int> pages;       // page codes in the order the device sends them
    unsigned long long blocks;    // disk size the rig gives it, in 512-byte blocks
};

const Device kDevices[] = {
    {"scsi_debug",
     "Linux   ",
     "scsi_debug      ",
     {0x01, 0x02, 0x03, 0x08, 0x0a, 0x19, 0x1c},
     16384},
    {"virtio-scsi", "QEMU    ", "QEMU HARDDISK   ", {0x01, 0x04, 0x05, 0x08}, 32768},
    {"lsi53c895a", "QEMU    ", "QEMU HARDDISK   ", {0x01, 0x04, 0x05, 0x08}, 65536},
    {"megasas", "QEMU    ", "QEMU HARDDISK   ", {0x01, 0x04, 0x05, 0x08}, 98304},
};

Bytes fixture(const Device &d, const char *command)
{
    return read_bytes(fixture_dir() + d.impl + "." + command + ".bin");
}

class Fixture : public testing::TestWithParam<Device>
{
};

std::string name_of(const testing::TestParamInfo<Device> &info)
{
    std::string n = info.param.impl;
    for (char &c : n)
        if (!isalnum((unsigned char)c)) c = '_';
    return n;
}

} // namespace

TEST_P(Fixture, InquiryNamesTheImplementation)
{
    const Device &d = GetParam();
    Bytes a = fixture(d, "inquiry");
    ASSERT_GE(a.size(), 36u) << d.impl;
    a.resize(SCSI_BUFFER_SIZE);
    int type = -1;
    std::string out = capture_stdout([&] { type = print_inquiry(a.data()); });
    EXPECT_EQ(type, 0);
    EXPECT_NE(out.find("    Peripheral qualifier:   0 currently connected\n"
                       "    Peripheral device-type: 0 direct\n"),
              std::string::npos);
    EXPECT_NE(out.find(std::string("    Vendor:                 '") + d.vendor + "'\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(std::string("    Product:                '") + d.product + "'\n"),
              std::string::npos)
        << out;
}

TEST_P(Fixture, CapacityAgreesWithTheBlockDescriptor)
{
    const Device &d = GetParam();
    Bytes cap = fixture(d, "readcap"), mode = fixture(d, "mode-pc0");
    ASSERT_EQ(cap.size(), 8u);
    ASSERT_GE(mode.size(), 12u);
    unsigned long long blocks = d.blocks;
    std::string out = capture_stdout([&] { print_capacity(cap.data()); });
    EXPECT_EQ(out, "READ_CAPACITY:\n    Capacity:               " + std::to_string(blocks) + "\n");
    // Two commands, one disk: the mode block descriptor counts the same blocks
    // (while they fit its 24 bits) of the length READ CAPACITY reports.
    unsigned descriptor_blocks = mode[5] << 16 | mode[6] << 8 | mode[7];
    if (blocks < (1u << 24)) {
        EXPECT_EQ(descriptor_blocks, blocks);
    }
    EXPECT_EQ((unsigned)(mode[9] << 16 | mode[10] << 8 | mode[11]),
              (unsigned)(cap[4] << 24 | cap[5] << 16 | cap[6] << 8 | cap[7]));
}

TEST_P(Fixture, EveryPageIsWalkedInOrder)
{
    const Device &d = GetParam();
    Bytes cur = fixture(d, "mode-pc0"), chg = fixture(d, "mode-pc1"), def = fixture(d, "mode-pc2");
    ASSERT_FALSE(cur.empty() || chg.empty() || def.empty()) << d.impl;
    load_four(cur, chg, def, def);
    std::string out = capture_stdout([&] { print_mode_data(0); });
    EXPECT_EQ(out.find("MODE SENSE PAGE"), std::string::npos) << out;
    EXPECT_NE(out.find("Block length                             512         512         512"
                       "         512\n"),
              std::string::npos)
        << out;
    size_t at = 0;
    for (int code : d.pages) {
        char heading[32];
        snprintf(heading, sizeof heading, "*** Page 0x%02x:", code);
        size_t next = out.find(heading, at);
        ASSERT_NE(next, std::string::npos) << heading << "\n" << out;
        at = next + 1;
        // Each page ends with its four dumps, the saved copy's last.
        EXPECT_NE(out.find("\nsave     |", next), std::string::npos);
    }
    // Nothing but the expected pages.
    size_t count = 0;
    for (size_t p = out.find("*** Page 0x"); p != std::string::npos;
         p = out.find("*** Page 0x", p + 1))
        count++;
    EXPECT_EQ(count, d.pages.size());
}

// The kernel's disk of 8 MiB, as the rig loads it: values sg_readcap and
// sg_modes reported for the same device.
TEST(RigScsiDebug, CapacityAndCachingPageValues)
{
    const Device &d = kDevices[0];
    Bytes cap = fixture(d, "readcap");
    ASSERT_EQ(cap.size(), 8u);
    EXPECT_EQ(capture_stdout([&] { print_capacity(cap.data()); }),
              "READ_CAPACITY:\n    Capacity:               16384\n");
    Bytes cur = fixture(d, "mode-pc0"), chg = fixture(d, "mode-pc1"), def = fixture(d, "mode-pc2");
    load_four(cur, chg, def, def);
    std::string out = capture_stdout([&] { print_mode_data(0); });
    const char *rows[] = {
        "Number of blocks                       16384       16384       16384       16384\n",
        "Write cache enable                      True        True        True        True\n",
        "Read cache disable                     False       False       False       False\n",
        "Dis. pre-fetch xfer-len                65535           0       65535       65535\n",
        "Max pre-fetch-ceil                     65535           0       65535       65535\n",
        "Sect/track                                32           0          32          32\n",
        "Byte/sect                                512           0         512         512\n",
    };
    for (const char *r : rows) EXPECT_NE(out.find(r), std::string::npos) << r << out;
}

INSTANTIATE_TEST_SUITE_P(Rig, Fixture, testing::ValuesIn(kDevices), name_of);
