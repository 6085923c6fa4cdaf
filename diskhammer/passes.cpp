// The pass loop: each pass over the target list prepares every target and
// runs one child per selected engine, which writes, reads back and compares
// its sequence of files (cycles.cpp) while the parent times it (timing.cpp).
#include "diskhammer/diskhammer.h"
#include "platform/sighold.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// At file scope because the stop and interrupt handlers reach them: the
// settings, the target under test and the engine's child under way (or 0).
static const Settings *stop_set;
static mlist_entry *master_mp;
static volatile pid_t running_child;

std::string test_dir(const Settings &set, const mlist_entry *mp)
{
    return mp->mountp + "/fs_testdir." + std::to_string(set.dir_id);
}

static std::string shell_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// The mount point comes from the mount table and may hold blanks or shell
// characters: quoted, only the test directory can go.
static void test_cleanup(const Settings &set, const mlist_entry *mp)
{
    if (set.d_option) return;
    std::string cmd = "rm -rf " + shell_quote(test_dir(set, mp));
    fflush(stdout);
    if (system(cmd.c_str()) == -1) {
        printf("!ERROR: ");
        printf("%s%s\n", cmd.c_str(), strerror(errno));
        exit(1);
    }
}

static void intr_handler(int)
{
    time_t now = time(nullptr);
    printf("!! Stress Test Interrupted at %s!!\n", ctime(&now));
    if (master_mp) test_cleanup(*stop_set, master_mp);
    exit(0);
}

// The signals that end the parent: its own interrupt, termination, hang-up,
// and a write to an output that has gone (`diskhammer ... | head -1`). They
// are held while a test directory is made and while a child is started, so
// that the parent knows what to clean up whenever one of them arrives.
static const std::initializer_list<int> stop_signals = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The parent leaves nothing behind: the child under way is interrupted (it
// removes the test directory itself, as on an interrupt to the whole group)
// and waited for, then the directory goes here too, and the run ends with 1.
static void parent_stop(int)
{
    if (running_child > 0) {
        kill(running_child, SIGINT);
        while (waitpid(running_child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (master_mp) test_cleanup(*stop_set, master_mp);
    _exit(1);
}

// The test directory in a world-writable file system may have been made by
// someone else: only a real directory of our own is used.
static bool own_directory(const std::string &dir)
{
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

static int test_setup(const Settings &set, RunState *run, mlist_entry *mp)
{
    if (mp->skip) return 0;
    long long avail;
    if (set.d_option) {
        avail = get_rawsize(mp->device.c_str());
        printf("Raw device %s : Avail %lld nbytes.\n", mp->device.c_str(), avail);
    } else {
        avail = get_fssize(mp->mountp.c_str());
        printf("File System: %s : Avail %lld nbytes\n", mp->mountp.c_str(), avail);
    }
    if (avail < set.max_filesz) {
        printf("File System too small\n");
        printf("!! SKIPPING FILESYSTEM !!\n");
        mp->skip = 1;
        return 0;
    }
    if (!set.d_option) {
        std::string dir = test_dir(set, mp);
        if (mkdir(dir.c_str(), 0777) != 0) {
            if (errno != EEXIST || !own_directory(dir)) {
                printf("%s%s\n", dir.c_str(), strerror(errno));
                if (errno == EROFS || errno == EACCES || errno == ENOSYS) {
                    printf("!! SKIPPING FILESYSTEM !!\n");
                    mp->skip = 1;
                }
                return 0;
            }
        }
    }
    if (!set.silent && set.m_option) printf("\n\tFile is Memory Mapped\n");
    printf("\n");
    io_setup(set, run, mp);
    return 1;
}

static void child_pass(const Settings &set, RunState *run, const mlist_entry *mp,
                       const io_engine *eng)
{
    signal(SIGINT, intr_handler);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    sig_release(stop_signals);
    long long size, transfer;
    while (fs_write(set, run, mp, eng, &size, &transfer) == 1)
        fs_read(set, run, mp, eng, size, transfer);
    exit(0);
}

static void run_engine(const Settings &set, RunState *run, mlist_entry *mp, int engine)
{
    fflush(stdout);
    time_setup(run);
    sig_hold(stop_signals);
    pid_t pid = fork();
    if (pid == 0) child_pass(set, run, mp, engines[engine]);
    running_child = pid > 0 ? pid : 0;
    sig_release(stop_signals);
    if (pid < 0) {
        if (errno == EAGAIN) {
            printf("%s%s\n", "Can't fork processes! PID is run out!\n", strerror(errno));
            exit(1);
        }
        if (errno == ENOMEM) {
            printf("%s%s\n", "Can't fork processes! Memory is run out!\n", strerror(errno));
            exit(1);
        }
        test_cleanup(set, mp);
        exit(1);
    }
    int status;
    pid_t w;
    do w = waitpid(pid, &status, 0);
    while (w < 0 && errno == EINTR);
    running_child = 0;
    // A child ended by a signal did not finish its pass.
    if (w < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        test_cleanup(set, mp);
        exit(1);
    }
    time_cleanup(set, *run, mp, engine);
}

int test_execute(const Settings &set, RunState *run)
{
    umask(0);
    stop_set = &set;
    sig_set_group(stop_signals, parent_stop, false);
    for (int pass = 1; pass <= set.num_tests; pass++) {
        if (!set.silent) printf("\nStarting Test Pass %d of %d\n", pass, set.num_tests);
        for (mlist_entry *mp = run->mlist_first; mp; mp = mp->next) {
            sig_hold(stop_signals);
            int ready = test_setup(set, run, mp);
            if (ready) master_mp = mp;
            sig_release(stop_signals);
            if (!ready) continue;
            for (int engine = 0; engine < ENGINE_COUNT; engine++)
                if (engine_selected(set, engine)) run_engine(set, run, mp, engine);
            test_cleanup(set, mp);
        }
    }
    if (!set.silent) timing_report(set, run->mlist_first);
    return 0;
}
