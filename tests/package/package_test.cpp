// The Debian package as a user gets it: built by cpack from this build,
// installed by dpkg into a throw-away copy of this machine, where its programs,
// man pages and runner work; and the fleet playbook run against localhost
// there, which brings the host's JUnit report back.
#include "tests/support/mountns.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>

namespace
{

const std::string kBuild = std::string(SUITE_BIN_DIR) + "/..";

const char *kPrograms[] = {"volaudit",     "treecycle", "diskhammer", "targetscan", "netsink",
                           "txpace",       "rxpace",    "porttalk",   "portlisten", "lineclose-tx",
                           "lineclose-rx", "lanetx",    "lanerx",     "reelflood",  "reelcheck",
                           "argpairs",     "bodypairs", "mediaquery", "epochnow",   "blockpeer"};

// Builds the package into dir; its path, or "" (with the reason in *out).
std::string make_package(const std::string &dir, std::string *out)
{
    if (shell("cd " + kBuild + " && cpack -G DEB -B " + dir + " 2>&1", out) != 0) return "";
    std::string deb;
    shell("ls " + dir + "/hwsuite_*.deb", &deb);
    while (!deb.empty() && deb.back() == '\n') deb.pop_back();
    return deb;
}

struct Installed : ::testing::Test {
    MountNs ns;
    TempDir t{"pkg"};
    std::string root, deb, log;
    void SetUp() override
    {
        if (!ns.ok()) GTEST_SKIP() << ns.error;
        root = t / "root";
        deb = make_package(t / "deb", &log);
        ASSERT_NE(deb, "") << log;
        ASSERT_TRUE(ns.overlay_root(root));
        ASSERT_EQ(shell("cp " + deb + " " + root + "/tmp/hwsuite.deb"), 0);
    }
    int in_root(const std::string &cmd, std::string *out)
    {
        return shell("chroot " + root + " /bin/sh -c '" + cmd + "' 2>&1", out);
    }
};

TEST_F(Installed, ProgramsPagesAndRunnerWithTheirDependencies)
{
    std::string out;
    ASSERT_EQ(shell("dpkg-deb -f " + deb + " Depends", &out), 0);
    for (const char *dep : {"cpio", "diffutils", "coreutils", "util-linux", "python3", "liburing2"})
        EXPECT_TRUE(contains(out, dep)) << out;
    ASSERT_EQ(shell("dpkg-deb -c " + deb, &out), 0);
    for (const char *p : kPrograms) {
        EXPECT_TRUE(contains(out, std::string("./usr/bin/") + p + "\n")) << p;
        EXPECT_TRUE(contains(out, std::string("./usr/share/man/man8/") + p + ".8.gz\n")) << p;
    }
    EXPECT_TRUE(contains(out, "./usr/bin/qualrun\n"));
    // What Debian's policy asks of a package, and a version of this commit.
    EXPECT_TRUE(contains(out, "./usr/share/doc/hwsuite/copyright\n")) << out;
    EXPECT_TRUE(contains(out, "./usr/share/doc/hwsuite/changelog.gz\n")) << out;
    std::string count, commit, fields;
    shell("git -C " SUITE_SOURCE_DIR " rev-list --count HEAD", &count);
    shell("git -C " SUITE_SOURCE_DIR " rev-parse --short=10 HEAD", &commit);
    ASSERT_EQ(shell("dpkg-deb -f " + deb + " Version Maintainer", &fields), 0);
    EXPECT_EQ(fields, "Version: 1.0.0+git" + count.substr(0, count.size() - 1) + "." + commit +
                          "Maintainer: Hardware qualification suite maintainers "
                          "<maintainers@users.noreply.c-seed-aa400c1e.example>\n");

    ASSERT_EQ(in_root("dpkg -i /tmp/hwsuite.deb >/dev/null", &out), 0) << out;
    EXPECT_EQ(in_root("for p in epochnow reelcheck qualrun; do command -v $p; done; "
                      "man -w volaudit rxpace",
                      &out),
              0)
        << out;
    EXPECT_EQ(out, "/usr/bin/epochnow\n/usr/bin/reelcheck\n/usr/bin/qualrun\n"
                   "/usr/share/man/man8/volaudit.8.gz\n/usr/share/man/man8/rxpace.8.gz\n");
    EXPECT_EQ(in_root("cd /tmp && qualrun /usr/share/hwsuite/plans/smoke.plan", &out), 0) << out;
    EXPECT_TRUE(contains(out, "qualrun: 6 runs, 6 as expected\n")) << out;

    // Without one of the tools it starts, the package does not install.
    ASSERT_EQ(
        in_root("dpkg -r hwsuite >/dev/null && dpkg --purge --force-depends cpio >/dev/null 2>&1",
                &out),
        0)
        << out;
    EXPECT_NE(in_root("dpkg -i /tmp/hwsuite.deb", &out), 0);
    EXPECT_TRUE(contains(out, "hwsuite depends on cpio; however:")) << out;
}

TEST_F(Installed, PlaybookBringsBackEachHostsReport)
{
    std::string out;
    // The root's /tmp is its own: the playbook goes there as the package did.
    ASSERT_EQ(shell("cp " SUITE_SOURCE_DIR "/contrib/ansible/qualify.yml " + root + "/tmp/"), 0);
    auto playbook = [&](const std::string &vars) {
        return in_root("cd /tmp && ANSIBLE_NOCOLOR=1 ansible-playbook -i localhost, -c local "
                       "qualify.yml " +
                           vars,
                       &out);
    };
    // The host's report, as a CI system reads it.
    auto report = [&] {
        std::string cases;
        EXPECT_EQ(shell(SUITE_SOURCE_DIR "/tests/support/junit_cases.py " + root +
                            "/tmp/reports/localhost.xml",
                        &cases),
                  0)
            << cases;
        return cases;
    };
    int rc = playbook("-e suite_deb=/tmp/hwsuite.deb -e suite_reports=/tmp/reports");
    ASSERT_EQ(rc, 0) << out;
    EXPECT_TRUE(contains(out, "localhost                  : ok=")) << out;
    EXPECT_EQ(match_text(report(), "localhost (qualrun) tests=6 failures=0 errors=0\n"
                                   "localhost <*>@<*> tests=6 failures=0 errors=0: volaudit pass | "
                                   "treecycle pass | argpairs pass | bodypairs pass | epochnow "
                                   "pass | mediaquery pass\n"),
              "");

    // A plan the runner refuses: the report says so, instead of the last one.
    write_file(root + "/tmp/bad.plan", "[odd]\nexpect = sometimes\nrun = true\n");
    rc = playbook("-e suite_deb=hwsuite.deb -e suite_plan=bad.plan -e suite_reports=reports");
    EXPECT_EQ(rc, 2) << out;
    EXPECT_EQ(report(), "localhost (qualrun) tests=1 failures=0 errors=1\n"
                        "localhost qualify@localhost tests=1 failures=0 errors=1: error error: the "
                        "plan was refused: qualrun: /var/tmp/hwsuite-qualify/host.plan: entry "
                        "\"odd\": expect is an exit status (0 to 255) or \"any\", not "
                        "\"sometimes\" qualrun: nothing was run\n");
    EXPECT_FALSE(file_exists(root + "/tmp/reports/localhost.json"));

    // A host without one of the package's dependencies (and no mirror): the
    // report names it, and the package is not left half installed.
    ASSERT_EQ(
        in_root("dpkg -r hwsuite >/dev/null && dpkg --purge --force-depends cpio >/dev/null 2>&1",
                &out),
        0)
        << out;
    rc = playbook("-e suite_deb=hwsuite.deb -e suite_reports=reports");
    EXPECT_EQ(rc, 2) << out;
    EXPECT_EQ(match_text(report(), "localhost (qualrun) tests=1 failures=0 errors=1\n"
                                   "localhost qualify@localhost tests=1 failures=0 errors=1: error "
                                   "error: The package is installed when it differs from the "
                                   "installed one: hwsuite <*> needs what this host lacks: cpio\n"),
              "");
    EXPECT_NE(in_root("dpkg -s hwsuite", &out), 0) << out;
}

} // namespace
