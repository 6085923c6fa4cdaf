// The serial data pairs on real UARTs: one boot of the serial rig (two
// 16550A ports joined to each other) runs txpace/rxpace with -s and -n and
// porttalk/portlisten at 115200 and at 9600 (tests/lab/guest/serial-pairs),
// and txpace with a budget too short for any block.
// Draining output waits for the UART there, so nothing is lost at the end:
// the capture files of each pair are equal byte for byte.
#include <gtest/gtest.h>

#include "tests/support/cable.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

namespace
{

struct Run {
    TempDir dir{"labserial"};
    RunResult rig;
};

Run &run()
{
    static Run *r = [] {
        auto *r = new Run;
        const std::string lab = lab_path("");
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

TEST(LabSerial, RigRan)
{
    ASSERT_TRUE(run().rig.exited) << run().rig.err;
    EXPECT_EQ(run().rig.status, 0) << run().rig.err;
}

class Speed : public testing::TestWithParam<const char *>
{
};

// What each pair leaves, by what its transmitter captured: nothing (-n),
// the one empty line of a budget too short for any block, or whole blocks,
// which the receiver's capture repeats.
enum Sent { ABSENT, EMPTY_LINE, WHOLE };
const struct {
    const char *pair, *tx_out, *sent, *got;
    Sent shape;
} kPairs[] = {
    {"flow-s", "Software flow control\n", "txpace.tmp", "rxpace.tmp", WHOLE},
    {"flow-n", "No flow control\n", "txpace.tmp", "rxpace.tmp", ABSENT},
    {"flow-none", "Software flow control\n", "txpace.tmp", "rxpace.tmp", EMPTY_LINE},
    {"transfer", "", "porttalk.tmp", "portlisten.tmp", WHOLE},
};

TEST_P(Speed, EachPairEndsAsDesigned)
{
    for (auto &p : kPairs) {
        const std::string pair = std::string(p.pair) + "-" + GetParam();
        SCOPED_TRACE(pair);
        EXPECT_FALSE(file_exists(run().dir / (pair + "/rx.stopped"))) << "the end marker was lost";
        EXPECT_EQ(file(pair, "tx.status"), "0\n");
        EXPECT_EQ(file(pair, "tx.out"), p.tx_out);
        EXPECT_EQ(file(pair, "rx.out") + file(pair, "tx.err"), "");
        std::string sent = file(pair, p.sent), got = file(pair, p.got);
        if (p.shape == ABSENT) {
            EXPECT_FALSE(file_exists(run().dir / (pair + "/" + p.sent)));
            EXPECT_EQ(got, "PASS");
        } else {
            EXPECT_EQ(p.shape == WHOLE ? blocks_in(sent) >= 0 : sent == "\n", true)
                << sent.substr(0, 100);
            EXPECT_EQ(got, sent);
        }
        // The rate check compares bytes a second with the speed's number.
        // The emulated UART keeps to no speed: at 115200 the pauses alone
        // keep the rate below it; at 9600 it depends on how fast the
        // emulation ran.
        std::string status = file(pair, "rx.status"), err = file(pair, "rx.err");
        if (status == "0\n" || p.pair != std::string("flow-s") ||
            GetParam() != std::string("9600")) {
            EXPECT_EQ(status, "0\n");
            EXPECT_EQ(err, "");
        } else {
            EXPECT_EQ(status, "1\n");
            EXPECT_EQ(match_output(err, {"!ERROR: Flow control does not happen at all.: <*>"}), "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lab, Speed, testing::Values("115200", "9600"));

} // namespace
