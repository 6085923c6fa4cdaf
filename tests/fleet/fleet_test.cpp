// The fleet: three throw-away machines (tests/fleet/fleet-up), each with a plan
// of its own through host_vars, qualified by the README's playbook command run
// from a repository root with relative paths. host1's netsink verifies host2's
// blockpeer over the fleet's IPv6 network, host2 has a step planted to fail,
// host3 is stopped in the middle of its plan. Then qualrun merge makes one page
// of them, read back by a browser.
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace
{

const std::string kSource = SUITE_SOURCE_DIR;

struct Fleet {
    std::string dir;
    ~Fleet()
    {
        if (!dir.empty()) shell(kSource + "/tests/fleet/fleet-down " + dir);
    }
};

const std::string kJunitCases = kSource + "/tests/support/junit_cases.py";

TEST(Fleet, PlaybookQualifiesThreeMachinesAndOnePageShowsThem)
{
    TempDir t("fleet");
    const std::string repo = t / "repo";
    std::string out;
    // A repository root of its own: the playbook, the fleet's plans, the package.
    ASSERT_EQ(shell("mkdir -p " + repo + "/contrib " + repo + "/tests/fleet && cp -r " + kSource +
                        "/contrib/ansible " + repo + "/contrib/ && cp -r " + kSource +
                        "/tests/fleet/plans " + repo + "/tests/fleet/ && cd " + SUITE_BIN_DIR +
                        "/.. && cpack -G DEB -B " + repo + "/build 2>&1",
                    &out),
              0)
        << out;
    Fleet fleet;
    fleet.dir = repo + "/fleet";
    ASSERT_EQ(shell("cd " + repo + " && " + kSource + "/tests/fleet/fleet-up fleet 3 2>&1", &out),
              0)
        << out;
    ASSERT_EQ(shell("cd " + repo + " && cp tests/fleet/plans/host*.yml fleet/host_vars/"), 0);

    // The README's command as written; host3 is stopped once its long run started.
    pid_t pb = spawn(
        {"/bin/sh", "-c",
         "cd " + repo +
             " && exec ansible-playbook -i fleet/hosts --become "
             "contrib/ansible/qualify.yml -e suite_deb=$(ls build/hwsuite_*_amd64.deb)"},
        repo, t / "playbook.log", t / "playbook.log", [] { setenv("ANSIBLE_NOCOLOR", "1", 1); });
    const std::string ssh3 = "ssh -q -i " + fleet.dir + "/id_fleet -p $(cat " + fleet.dir +
                             "/host3/ssh-port) -o BatchMode=yes -o StrictHostKeyChecking=no "
                             "-o UserKnownHostsFile=/dev/null root@127.0.0.1 ";
    bool started =
        poll_until(900, [&] { return shell(ssh3 + "test -e /run/fleet-long-started") == 0; });
    ASSERT_TRUE(started) << read_file(t / "playbook.log");
    ASSERT_EQ(shell("kill $(cat " + fleet.dir + "/host3/qemu.pid)"), 0);
    int rc = wait_for(pb, 900);
    std::string log = read_file(t / "playbook.log");
    EXPECT_EQ(rc, 4) << log; // a host unreachable (and one failed)
    std::string recap = log.substr(std::min(log.find("PLAY RECAP"), log.size()));
    for (const char *line : {"host1                      : ok=14   changed=9    unreachable=0    "
                             "failed=0    skipped=2 ",
                             "host2                      : ok=11   changed=8    unreachable=0    "
                             "failed=1    skipped=2 ",
                             "host3                      : ok=9    changed=6    unreachable=1    "
                             "failed=0    skipped=0 "})
        EXPECT_TRUE(contains(recap, line)) << line << "\n" << log;

    // Every host's report, under its own name; the planted failure on host2 alone.
    ASSERT_EQ(shell("cd " + repo + " && ls reports", &out), 0);
    EXPECT_EQ(out,
              "host1.html\nhost1.json\nhost1.xml\nhost2.html\nhost2.json\nhost2.xml\nhost3.xml\n");
    ASSERT_EQ(shell("cd " + repo + " && " + kJunitCases +
                        " reports/host1.xml reports/host2.xml reports/host3.xml 2>&1",
                    &out),
              0)
        << out;
    EXPECT_EQ(match_text(out,
                         "host1 (qualrun) tests=2 failures=0 errors=0\n"
                         "host1 <*>@host1 tests=2 failures=0 errors=0: netsink pass | epochnow "
                         "pass\n"
                         "host2 (qualrun) tests=2 failures=1 errors=0\n"
                         "host2 <*>@host2 tests=2 failures=1 errors=0: blockpeer pass | planted "
                         "failure: <*>\n"
                         "host3 (qualrun) tests=1 failures=0 errors=1\n"
                         "host3 qualify@host3 tests=1 failures=0 errors=1: error error: lost: the "
                         "host stopped answering during its plan\n"),
              "");
    // netsink's verdict, from its log in host1's results.
    EXPECT_TRUE(contains(read_file(repo + "/reports/host1.json"),
                         "\"!PASS: No failures detected in netsink on IPv6.\""));

    // One page and one JUnit report for the fleet.
    EXPECT_EQ(shell("cd " + repo + " && " + kSource +
                        "/runner/qualrun merge reports/ --html fleet.html --junit fleet.xml 2>&1",
                    &out),
              1)
        << out;
    EXPECT_EQ(out, "qualrun: 3 hosts: 1 with every run as expected, 1 not (host2), 1 without "
                   "results (host3)\n");
    ASSERT_EQ(shell(kJunitCases + " " + repo + "/fleet.xml", &out), 0) << out;
    EXPECT_EQ(match_text(out,
                         "fleet (qualrun merge) tests=5 failures=1 errors=1\n"
                         "fleet <*>@host1 tests=2 failures=0 errors=0: netsink pass | epochnow "
                         "pass\n"
                         "fleet <*>@host2 tests=2 failures=1 errors=0: blockpeer pass | planted "
                         "failure: <*>\n"
                         "fleet qualify@host3 tests=1 failures=0 errors=1: error error: lost: the "
                         "host stopped answering during its plan\n"),
              "");

    std::string dom = browser_dom(repo + "/fleet.html", t);
    std::string rows = table_rows(dom, "matrix");
    EXPECT_EQ(rows, "host | netsink | epochnow | blockpeer | planted\n"
                    "host1 | as expected | as expected | - | -\n"
                    "host2 | - | - | as expected | not as expected\n"
                    "host3 | lost: the host stopped answering during its plan\n");
    EXPECT_TRUE(contains(dom, "<a href=\"host2.html\">not as expected</a>"));
    // Side by side: the disks differ (each its own serial), the kernel does not.
    EXPECT_TRUE(contains(dom, "<tr class=\"differs\"><th>disks</th>"));
    EXPECT_TRUE(contains(dom, "<tr><th>kernel</th>"));
}

} // namespace
