// qualrun merge: the reports of three hosts as the fleet playbook leaves them
// (two jobs' results, one host lost) made into one page, read back by a
// browser, and one JUnit report held against the project's XSD.
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <gtest/gtest.h>

namespace
{

const std::string kSource = SUITE_SOURCE_DIR;
const std::string kRunner = kSource + "/runner/qualrun";

int qualrun(TempDir &t, const std::string &args, std::string *out)
{
    return shell("cd " + t.path + " && COLUMNS=160 QUALRUN_LOCK=" + t / "lock" + " " + kRunner +
                     " " + args + " 2>&1",
                 out);
}

TEST(Merge, HostsSideBySideInABrowser)
{
    TempDir t("merge");
    std::string out;
    make_dirs(t / "reports");
    EXPECT_EQ(qualrun(t, "merge reports", &out), 2);
    EXPECT_EQ(out, "qualrun: merge: no host's report (<host>.json or <host>.xml) in reports\n");

    // hosta and hostb ran the same plan, hostb's second run not as expected;
    // hostb's disk is of another model. hostc was lost.
    write_file(t / "a.plan", "[fine]\nrun = true\n\n[odd]\nrun = true\n");
    write_file(t / "b.plan", "[fine]\nrun = true\n\n[odd]\nrun = exit 3\n");
    ASSERT_EQ(qualrun(t, "a.plan --results ra", &out), 0) << out;
    ASSERT_EQ(qualrun(t, "b.plan --results rb", &out), 1) << out;
    for (std::string h : {"a", "b"})
        ASSERT_EQ(shell("cd " + t.path + " && cp r" + h + "/results.json reports/host" + h +
                        ".json && cp r" + h + "/junit.xml reports/host" + h + ".xml && cp r" + h +
                        "/report.html reports/host" + h + ".html"),
                  0);
    ASSERT_EQ(shell("/usr/bin/python3 -c 'import json,sys; d = json.load(open(sys.argv[1])); "
                    "d[\"job\"][\"machine\"][\"start\"][\"disks\"] = [\"sda Disk-B 1024\"]; "
                    "json.dump(d, open(sys.argv[1], \"w\"))' " +
                    t / "reports/hostb.json"),
              0);
    write_file(
        t / "reports/hostc.xml",
        "<?xml version='1.0' encoding='utf-8'?>\n<testsuites name=\"qualrun\" tests=\"1\" "
        "failures=\"0\" errors=\"1\" skipped=\"0\" time=\"0.000\"><testsuite name=\"qualify\" "
        "tests=\"1\" failures=\"0\" errors=\"1\" skipped=\"0\" time=\"0.000\" "
        "hostname=\"hostc\" timestamp=\"2026-12-09T10:00:00\"><testcase "
        "classname=\"hostc.qualify\" name=\"error\" time=\"0.000\"><error message=\"lost: "
        "the host stopped answering during its plan\" type=\"lost\"/></testcase></testsuite>"
        "</testsuites>\n");

    EXPECT_EQ(qualrun(t, "merge reports --html fleet.html --junit fleet.xml", &out), 1);
    EXPECT_EQ(out, "qualrun: 3 hosts: 1 with every run as expected, 1 not (hostb), 1 without "
                   "results (hostc)\n");
    ASSERT_EQ(shell("xmllint --noout --schema " + kSource + "/runner/schemas/junit.xsd " +
                        t / "fleet.xml 2>&1",
                    &out),
              0)
        << out;
    ASSERT_EQ(shell(kSource + "/tests/support/junit_cases.py " + t / "fleet.xml", &out), 0) << out;
    EXPECT_EQ(match_text(out, "fleet (qualrun merge) tests=5 failures=1 errors=1\n"
                              "fleet a@<*> tests=2 failures=0 errors=0: fine pass | odd pass\n"
                              "fleet b@<*> tests=2 failures=1 errors=0: fine pass | odd failure: "
                              "exit 3, expected 0\n"
                              "fleet qualify@hostc tests=1 failures=0 errors=1: error error: lost: "
                              "the host stopped answering during its plan\n"),
              "");

    // The tables as the browser built them, tags gone (of the identities, the
    // head: the rest is this machine's); the differing disks first.
    std::string dom = browser_dom(t / "fleet.html", t);
    std::string rows = "matrix\n" + table_rows(dom, "matrix", 3, 9) + "lost\n" +
                       table_rows(dom, "lost", 3, 9) + "identity\n" +
                       table_rows(dom, "identity", 3, 1);
    EXPECT_EQ(rows, "matrix\n"
                    "host | fine | odd\n"
                    "hosta | as expected | as expected\n"
                    "hostb | as expected | not as expected\n"
                    "hostc | lost: the host stopped answering during its plan\n"
                    "lost\n"
                    "hostc | lost: the host stopped answering during its plan\n"
                    "identity\n"
                    " | hosta | hostb\n");
    size_t first = dom.find("<tr class=\"differs\"><th>disks</th>");
    EXPECT_NE(first, std::string::npos) << dom;
    EXPECT_LT(first, dom.find("<tr><th>kernel</th>"));
    EXPECT_TRUE(contains(dom, "<td><pre>sda Disk-B 1024</pre></td></tr>"));
    EXPECT_TRUE(contains(dom, "<a href=\"hostb.html\">not as expected</a>"));
}

} // namespace
