// The shipped plans as a new user runs them: from a checkout under /tmp,
// which the serial stand-in's private /tmp hides unless it binds the
// programs back, and with programs whose set-up fails, which a plan must not
// take for the hang-up pair's pass (it too ends with status 1).
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

// Scripts that stand in for a program of the suite; {BIN} is where the real
// ones are.
const char *const kPassTx = "echo '!PASS: Hang up on last close'; exit 1";
const char *const kIoctlTx = "exec {BIN}/lineclose-tx -d /dev/null";

struct Case {
    const char *what, *plan;
    std::vector<std::string> only;
    std::vector<std::pair<const char *, const char *>> standins;
    int status; // the runner's: 0 when every run ended as expected
};

const Case kCases[] = {
    {"the serial pairs",
     "local",
     {"txpace+rxpace", "porttalk+portlisten", "lineclose-tx+rx", "lanetx+lanerx"},
     {},
     0},
    {"a hang-up transmitter that cannot set its port up",
     "local",
     {"lineclose-tx+rx"},
     {{"lineclose-tx", kIoctlTx}},
     1},
    {"a lab's hang-up pair that passes",
     "lab-example",
     {"serial-hangup"},
     {{"lineclose-tx", kPassTx}, {"lineclose-rx", "sleep 1"}},
     0},
    {"a lab's hang-up receiver that fails",
     "lab-example",
     {"serial-hangup"},
     {{"lineclose-tx", kPassTx}, {"lineclose-rx", "echo '!ERROR: Device open failed.'; exit 1"}},
     1},
    {"a lab's hang-up transmitter that cannot set its port up",
     "lab-example",
     {"serial-hangup"},
     {{"lineclose-tx", kIoctlTx}, {"lineclose-rx", "sleep 1"}},
     1},
};

TEST(Plans, JudgeTheSerialPairsFromACheckoutUnderTmp)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root (private mount namespaces)";
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.what);
        // As a clone under /tmp has them: the runner, the plans, the
        // stand-ins and the built programs.
        setenv("TMPDIR", "/tmp", 1);
        TempDir top("checkout");
        std::string src = SUITE_SOURCE_DIR,
                    cmd = "mkdir -p '" + top / "build" + "' '" + top / "tests" + "' && cp -a '" +
                          src + "/runner' '" + src + "/plans' '" + src + "/scripts' '" + top.path +
                          "' && cp -a '" + src + "/tests/lab' '" + top / "tests" + "' && cp -a '" +
                          SUITE_BIN_DIR + "' '" + top / "build" + "'";
        ASSERT_EQ(shell(cmd), 0) << cmd;
        for (auto &[prog, script] : c.standins)
            write_file(top / "build/bin/" + prog,
                       "#!/bin/bash\n" + fill(script, {{"{BIN}", SUITE_BIN_DIR}}) + "\n", 0755);
        // A lab's devices are not here: its ports become /dev/null for the
        // stand-ins, which never open them.
        std::string plan = top / "plans/" + c.plan + ".plan";
        ASSERT_EQ(shell("sed -i 's,/dev/ttyS[01],/dev/null,g' '" + plan + "'"), 0);
        RunOptions o;
        o.env = {"PATH=" + top / "scripts/standins:" + top / "tests/lab:" + getenv("PATH"),
                 "QUALRUN_LOCK=" + top / "lock"};
        o.timeout_s = 200;
        o.cwd = top.path;
        std::vector<std::string> args = {plan,     "--bin",      top / "build/bin",
                                         "--work", top / "work", "--only"};
        args.insert(args.end(), c.only.begin(), c.only.end());
        RunResult r = run_program(top / "runner/qualrun", args, o);
        ASSERT_TRUE(r.exited) << r.out << r.err;
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        // Nothing a run started is left behind in the machine's own /tmp.
        EXPECT_FALSE(file_exists("/tmp/b")) << r.out;
    }
}

} // namespace
