// The serial data pairs on real UARTs: one boot of the serial rig (two
// 16550A ports joined to each other) runs txpace/rxpace with -s and -n and
// porttalk/portlisten at 115200 and at 9600 (tests/lab/guest/serial-pairs),
// and txpace with a budget too short for any block.
// Draining output waits for the UART there, so nothing is lost at the end:
// the capture files of each pair are equal byte for byte.
#include <gtest/gtest.h>

#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

namespace
{

const std::string P = "QwErHMZa@nYBTc$%n4nUal80J&*k5l";

struct Run {
    TempDir dir{"labserial"};
    RunResult rig;
};

Run &run()
{
    static Run *r = [] {
        auto *r = new Run;
        const std::string lab = std::string(SUITE_SOURCE_DIR) + "/tests/lab/";
        RunOptions o;
        o.timeout_s = 360;
        r->rig = run_program(lab + "serial-rig",
                             {"--out", r->dir.path, "--timeout", "300", "--", "bash", "-c",
                              "\"$0\" \"$1\" \"$LAB_OUT\" 115200 9600", lab + "guest/serial-pairs",
                              SUITE_BIN_DIR},
                             o);
        return r;
    }();
    return *r;
}

std::string file(const std::string &pair, const std::string &name)
{
    return read_file(run().dir / (pair + "/" + name));
}

// The pattern lines before the one empty line that ends a whole capture; -1
// for any other shape.
long blocks_in(const std::string &capture)
{
    std::string want;
    while (want.size() + 1 < capture.size()) want += P + "\n";
    return capture == want + "\n" ? long(want.size() / 31) : -1;
}

TEST(LabSerial, RigRan)
{
    ASSERT_TRUE(run().rig.exited) << run().rig.err;
    EXPECT_EQ(run().rig.status, 0) << run().rig.err;
}

class Speed : public testing::TestWithParam<const char *>
{
};

TEST_P(Speed, FlowControlCapturesAreEqual)
{
    const std::string pair = std::string("flow-s-") + GetParam();
    EXPECT_FALSE(file_exists(run().dir / (pair + "/rx.stopped"))) << "the end marker was lost";
    EXPECT_EQ(file(pair, "tx.status"), "0\n");
    EXPECT_EQ(file(pair, "tx.out"), "Software flow control\n");
    std::string sent = file(pair, "txpace.tmp");
    EXPECT_GE(blocks_in(sent), 0) << sent.substr(0, 100);
    EXPECT_EQ(file(pair, "rxpace.tmp"), sent);
    // The rate check compares bytes a second with the speed's number. The
    // emulated UART keeps to no speed: at 115200 the pauses alone keep the
    // rate below it; at 9600 it depends on how fast the emulation ran.
    std::string status = file(pair, "rx.status"), err = file(pair, "rx.err");
    if (GetParam() == std::string("115200") || status == "0\n") {
        EXPECT_EQ(status, "0\n");
        EXPECT_EQ(err, "");
    } else {
        EXPECT_EQ(status, "1\n");
        EXPECT_EQ(match_output(err, {"!ERROR: Flow control does not happen at all.: <*>"}), "");
    }
    EXPECT_EQ(file(pair, "rx.out") + file(pair, "tx.err"), "");
}

TEST_P(Speed, NoFlowControlLeavesPass)
{
    const std::string pair = std::string("flow-n-") + GetParam();
    EXPECT_FALSE(file_exists(run().dir / (pair + "/rx.stopped"))) << "the end marker was lost";
    EXPECT_EQ(file(pair, "tx.status") + file(pair, "rx.status"), "0\n0\n");
    EXPECT_EQ(file(pair, "tx.out"), "No flow control\n");
    EXPECT_EQ(file(pair, "rxpace.tmp"), "PASS");
    EXPECT_FALSE(file_exists(run().dir / (pair + "/txpace.tmp")));
    EXPECT_EQ(file(pair, "rx.out") + file(pair, "rx.err") + file(pair, "tx.err"), "");
}

TEST_P(Speed, NoBlockSentLeavesOneEmptyLineOnBothSides)
{
    const std::string pair = std::string("flow-none-") + GetParam();
    EXPECT_FALSE(file_exists(run().dir / (pair + "/rx.stopped"))) << "the end marker was lost";
    EXPECT_EQ(file(pair, "tx.status") + file(pair, "rx.status"), "0\n0\n");
    EXPECT_EQ(file(pair, "txpace.tmp"), "\n");
    EXPECT_EQ(file(pair, "rxpace.tmp"), "\n");
}

TEST_P(Speed, TransferCapturesAreEqual)
{
    const std::string pair = std::string("transfer-") + GetParam();
    EXPECT_FALSE(file_exists(run().dir / (pair + "/rx.stopped"))) << "the end marker was lost";
    EXPECT_EQ(file(pair, "tx.status") + file(pair, "rx.status"), "0\n0\n");
    std::string sent = file(pair, "porttalk.tmp");
    EXPECT_GE(blocks_in(sent), 0) << sent.substr(0, 100);
    EXPECT_EQ(file(pair, "portlisten.tmp"), sent);
    EXPECT_EQ(file(pair, "rx.out") + file(pair, "rx.err") + file(pair, "tx.out") +
                  file(pair, "tx.err"),
              "");
}

INSTANTIATE_TEST_SUITE_P(Lab, Speed, testing::Values("115200", "9600"));

} // namespace
