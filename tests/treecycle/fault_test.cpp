// The fault options: each injected fault is caught by the comparison or the
// copy step, reported where it happened, and leaves the evidence.
#include "tests/treecycle/tc_env.h"

#include <gtest/gtest.h>

static std::string failed_tail = "treecycle: !ERROR: TRC7_double() got error TRC7_ERROR";

// What a double that failed in job `job` leaves: all five copies, its
// dcout directory with the markers and the references of the failed job.
static void expect_evidence(const TcEnv &e, int job)
{
    EXPECT_EQ(dir_entries(e.dst),
              (std::vector<std::string>{"dcout.001", "log", "tbase.001.1", "tbase.001.2",
                                        "tbase.001.3", "tbase.001.4", "tbase.001.5"}));
    auto d = dir_entries(e.dst + "/dcout.001");
    for (int k = 1; k <= 5; k++) {
        EXPECT_NE(std::find(d.begin(), d.end(), "tbase" + std::to_string(k)), d.end()) << k;
        EXPECT_NE(std::find(d.begin(), d.end(), "P" + std::to_string(k)), d.end()) << k;
    }
    bool has_ref = std::find(d.begin(), d.end(), "ref.dst." + std::to_string(job)) != d.end();
    EXPECT_TRUE(has_ref) << "ref.dst." << job;
    // Passed jobs released their references.
    for (int k = 1; k <= 5; k++)
        if (k != job) {
            EXPECT_EQ(std::find(d.begin(), d.end(), "ref.dst." + std::to_string(k)), d.end()) << k;
        }
    EXPECT_TRUE(file_exists(e.top + "/TRC7.failed"));
}

static void expect_failed_run(const TcEnv &e, const RunResult &r)
{
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.status, 1) << r.err;
    std::string log = e.run_log(), bad;
    std::string norm = normalize_events(log, &bad);
    EXPECT_EQ(count_of(norm, "<EV>Failed.\n"), 1) << norm;
    EXPECT_FALSE(contains(norm, "!PASS"));
    ASSERT_GE(log.size(), failed_tail.size());
    EXPECT_EQ(log.substr(log.size() - failed_tail.size()), failed_tail);
    EXPECT_TRUE(contains(r.err, "wait_for_all_threads failed."));
}

TEST(TreecycleFault, FileAddIsFoundByTheComparison)
{
    TcEnv e;
    TC_INIT(e);
    // The first draw of srandom(1) picks job 4.
    RunResult r = e.tc({"-fault-file-add", e.src, e.dst, "3", "1"});
    expect_failed_run(e, r);
    expect_evidence(e, 4);
    EXPECT_EQ(read_file(e.dst + "/dcout.001/P4"), "Only in " + e.dst + "/tbase.001.4: fault\n");
    EXPECT_EQ(without_cpio_report(read_file(e.dst + "/log/TRC7.001.001.4.log")),
              "treecycle: diff failed; status = {signal=0, exit=1}\ndiff failed.");
    EXPECT_EQ(read_file(e.dst + "/dcout.001/P2"), "");
    EXPECT_EQ(without_cpio_report(read_file(e.dst + "/log/TRC7.001.001.2.log")), "");
    // The run ended in its first iteration.
    EXPECT_FALSE(contains(e.run_log(), "Iteration 001 complete."));
}

TEST(TreecycleFault, FileDropIsFoundByTheComparison)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-fault-file-drop", e.src, e.dst, "1", "1"});
    expect_failed_run(e, r);
    expect_evidence(e, 4);
    std::string p4 = read_file(e.dst + "/dcout.001/P4");
    EXPECT_TRUE(p4 == "Only in " + e.src + ": a.txt\n" || p4 == "Only in " + e.src + ": empty\n")
        << p4;
}

TEST(TreecycleFault, CpioFaultSavesTheCoreFile)
{
    TcEnv e;
    TC_INIT(e);
    write_file(e.run + "/core", "dumped\n");
    // The first draw picks job 4; its failed copy moves the core file away,
    // named after the single's process id (the -v dump after the second
    // phase started shows it).
    RunResult r = e.tc({"-v", "-fault-cpio", e.src, e.dst, "1", "1"});
    expect_failed_run(e, r);
    EXPECT_FALSE(file_exists(e.run + "/core"));
    std::string single;
    for (auto &l : split_lines(e.run_log()))
        if (l.rfind("  4 child=", 0) == 0 && l != "  4 child=0, running=0")
            single = l.substr(10, l.find(',') - 10);
    ASSERT_NE(single, "") << e.run_log();
    std::string saved;
    for (auto &n : dir_entries(e.top))
        if (n.rfind("core.", 0) == 0) saved = n;
    EXPECT_EQ(saved, "core." + single) << r.err;
    ASSERT_NE(saved, "") << r.err;
    EXPECT_EQ(read_file(e.top + "/" + saved), "dumped\n");
    std::string slog = read_file(e.dst + "/log/TRC7.001.001.4.log");
    EXPECT_TRUE(contains(slog, "treecycle: cpio failed; fault-cpio\ncpio failed.")) << slog;
    // The failed copy was not compared.
    EXPECT_FALSE(file_exists(e.dst + "/dcout.001/P4"));
}

TEST(TreecycleFault, DiffFaultFailsAPassedComparison)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-fault-diff", e.src, e.dst, "1", "1"});
    expect_failed_run(e, r);
    expect_evidence(e, 4);
    EXPECT_EQ(read_file(e.dst + "/dcout.001/P4"), "");
    EXPECT_EQ(without_cpio_report(read_file(e.dst + "/log/TRC7.001.001.4.log")),
              "treecycle: diff failed; fault-diff\ndiff failed.");
}

TEST(TreecycleFault, DrawsFollowTheCommandLineOrder)
{
    // The draws of srandom(1) are 4 then 2.
    for (int reversed = 0; reversed < 2; reversed++) {
        TcEnv e;
        TC_INIT(e);
        std::vector<std::string> args = {"-fault-diff", "-fault-cpio"};
        if (reversed) std::swap(args[0], args[1]);
        for (auto a : {e.src, e.dst, std::string("1"), std::string("1")}) args.push_back(a);
        RunResult r = e.tc(args);
        EXPECT_EQ(r.status, 1);
        int diff_job = reversed ? 2 : 4, cpio_job = reversed ? 4 : 2;
        EXPECT_TRUE(
            contains(read_file(e.dst + "/log/TRC7.001.001." + std::to_string(diff_job) + ".log"),
                     "diff failed; fault-diff"))
            << reversed;
        EXPECT_TRUE(
            contains(read_file(e.dst + "/log/TRC7.001.001." + std::to_string(cpio_job) + ".log"),
                     "cpio failed; fault-cpio"))
            << reversed;
        // Only the first failure of the double is marked.
        std::string bad;
        EXPECT_EQ(count_of(normalize_events(e.run_log(), &bad), "<EV>Failed.\n"), 1);
    }
}

TEST(TreecycleFault, MaxInstancesLowersTheCountForTheNextIteration)
{
    TcEnv e;
    TC_INIT(e);
    RunResult r = e.tc({"-fault-max-instances", "1", e.src, e.dst, "2", "3"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string bad;
    std::string norm = normalize_events(e.run_log(), &bad);
    EXPECT_TRUE(contains(norm, "treecycle::TRC7_double(): fork ran out of resources.\n"
                               "treecycle::TRC7_double(): fork ran out of resources.\n"
                               "<EV>Instances adjusted from 3 to 1\n"
                               "\n"
                               "<EV>Iteration 001 complete.\n"
                               "<EV>Iteration 002 complete.\n"
                               "<EV>!PASS: Done.\n"))
        << norm;
    EXPECT_EQ(read_file(e.dst + "/log/TRC7.001.002.1.log"), "Too many instances.");
    EXPECT_EQ(read_file(e.dst + "/log/TRC7.001.003.1.log"), "Too many instances.");
    EXPECT_FALSE(file_exists(e.dst + "/log/TRC7.001.002.2.log"));
    EXPECT_TRUE(file_exists(e.dst + "/log/TRC7.002.001.5.log"));
    EXPECT_FALSE(file_exists(e.dst + "/log/TRC7.002.002.1.log"));
    // The resource-ended doubles removed what they made.
    EXPECT_EQ(dir_entries(e.dst), std::vector<std::string>{"log"});
}
