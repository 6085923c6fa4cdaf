#include "tests/support/process.h"

#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

std::string bin_path(const std::string &name)
{
    return std::string(SUITE_BIN_DIR) + "/" + name;
}

std::string lab_path(const std::string &name)
{
    static TempDir dir("lab path");
    static bool linked = symlink(SUITE_SOURCE_DIR "/tests/lab", (dir / "lab").c_str()) == 0;
    (void)linked;
    return dir / "lab/" + name;
}

static double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// All of a file in memory, read from its start; the descriptor is closed.
static std::string read_all(int fd)
{
    std::string text;
    char buf[65536];
    ssize_t n;
    for (off_t off = 0; (n = pread(fd, buf, sizeof buf, off)) > 0; off += n) text.append(buf, n);
    close(fd);
    return text;
}

static std::vector<char *> argv_of(std::vector<std::string> &argv)
{
    std::vector<char *> av;
    for (auto &a : argv) av.push_back(a.data());
    av.push_back(nullptr);
    return av;
}

int status_of(int wait_status)
{
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

// Standard input, output and error in memory: the program has ended when it
// exits, whatever it left running with them.
RunResult run_program(const std::string &path, const std::vector<std::string> &args,
                      const RunOptions &opt)
{
    RunResult r;
    int in = memfd_create("run-in", 0), out = memfd_create("run-out", 0),
        err = memfd_create("run-err", 0);
    for (size_t done = 0; done < opt.input.size();) {
        ssize_t n = pwrite(in, opt.input.data() + done, opt.input.size() - done, done);
        if (n <= 0) break;
        done += n;
    }
    std::vector<std::string> argv = {opt.argv0.empty() ? path : opt.argv0};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char *> av = argv_of(argv);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (opt.new_group) setpgid(0, 0);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (auto &n : opt.unset) unsetenv(n.c_str());
        for (auto &e : opt.env) putenv(strdup(e.c_str()));
        signal(SIGPIPE, SIG_DFL);
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0) _exit(126);
        execv(path.c_str(), av.data());
        fprintf(stderr, "exec %s: %s\n", path.c_str(), strerror(errno));
        _exit(127);
    }
    close(in);
    if (pid < 0) {
        close(out);
        close(err);
        r.err = "fork failed";
        return r;
    }
    if (opt.new_group) setpgid(pid, pid);
    signal(SIGPIPE, SIG_IGN);
    double deadline = now_s() + opt.timeout_s;
    int st = 0;
    pid_t w;
    while ((w = waitpid(pid, &st, WNOHANG)) == 0 || (w < 0 && errno == EINTR)) {
        if (!r.timed_out && now_s() > deadline) {
            r.timed_out = true;
            kill(opt.new_group ? -pid : pid, SIGKILL);
        }
        usleep(2000);
    }
    r.out = read_all(out);
    r.err = read_all(err);
    if (w == pid && WIFEXITED(st)) {
        r.exited = true;
        r.status = WEXITSTATUS(st);
    } else if (w == pid) {
        r.signal = WTERMSIG(st);
    }
    return r;
}

void expect_run(const RunSpec &c, RunOptions o)
{
    o.argv0 = c.argv[0];
    RunResult r = run_program(bin_path(c.argv[0]), {c.argv.begin() + 1, c.argv.end()}, o);
    EXPECT_TRUE(r.exited && r.status == c.status) << c.line;
    EXPECT_EQ(r.out, c.out) << c.line;
    EXPECT_EQ(r.err, c.err) << c.line;
}

int shell(const std::string &cmd, std::string *out)
{
    RunOptions o;
    o.new_group = false;
    RunResult r = run_program("/bin/sh", {"-c", cmd}, o);
    if (out) *out = r.out + r.err;
    return r.exited ? r.status : 128 + r.signal;
}

int in_child(const std::function<void()> &f, std::string *out, std::string *err)
{
    int ofd = out ? memfd_create("in-child-out", 0) : -1;
    int efd = err ? memfd_create("in-child-err", 0) : -1;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (ofd >= 0) dup2(ofd, 1);
        if (efd >= 0) dup2(efd, 2);
        f();
        fflush(nullptr);
        _exit(0);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    if (out) *out = read_all(ofd);
    if (err) *err = read_all(efd);
    return status_of(st);
}

pid_t spawn(const std::vector<std::string> &argv, const std::string &cwd, const std::string &out,
            const std::string &err, const std::function<void()> &in_child)
{
    std::vector<std::string> copy = argv;
    std::vector<char *> av = argv_of(copy);
    fflush(nullptr);
    pid_t p = fork();
    if (p == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = err == out ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int n = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || n < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0)) _exit(126);
        dup2(n, 0);
        dup2(o, 1);
        dup2(e, 2);
        if (in_child) in_child();
        execv(av[0], av.data());
        _exit(127);
    }
    return p;
}

int wait_for(pid_t pid, double timeout_s, int stop, bool *stopped)
{
    if (pid <= 0) { // no child: never a kill of -1 or of the group
        if (stopped) *stopped = false;
        return -1;
    }
    int st = 0;
    pid_t w = 0;
    auto ended = [&] { return (w = waitpid(pid, &st, WNOHANG)) != 0; };
    bool done = poll_until(timeout_s, ended);
    if (stopped) *stopped = !done;
    if (!done) {
        kill(pid, stop);
        if (!poll_until(10, ended)) {
            kill(pid, SIGKILL);
            w = waitpid(pid, &st, 0);
        }
    }
    return w == pid ? status_of(st) : -1;
}

std::vector<pid_t> children_of(pid_t pid)
{
    std::vector<pid_t> v;
    std::istringstream in(
        read_file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
    for (pid_t p; in >> p;) v.push_back(p);
    return v;
}

bool wait_lock_waiter(const std::string &path, double timeout_s)
{
    // The whole identity, device and inode: files of other tests' tmpfs
    // mounts have the same inode numbers.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    char key[64];
    snprintf(key, sizeof key, " %02x:%02x:%lu ", major(st.st_dev), minor(st.st_dev),
             (unsigned long)st.st_ino);
    return poll_until(timeout_s, [&] {
        for (auto &line : split_lines(read_file("/proc/locks")))
            if (contains(line, " -> ") && contains(line, key)) return true;
        return false;
    });
}

void kill_in_turn(pid_t pid, const std::vector<int> &sigs, int gap_us)
{
    for (size_t i = 0; i < sigs.size(); i++) {
        auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(i > 0 ? gap_us : 0);
        while (std::chrono::steady_clock::now() < end) {
        }
        kill(pid, sigs[i]);
    }
}

bool has_ended(pid_t pid)
{
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    return stat.empty() || contains(stat, ") Z ");
}

bool asleep_in(pid_t pid, long nr, double timeout_s, int fd)
{
    std::string proc = "/proc/" + std::to_string(pid);
    char want[48];
    snprintf(want, sizeof want, fd >= 0 ? "%ld 0x%x " : "%ld ", nr, fd);
    auto asleep = [&] {
        return contains(read_file(proc + "/stat"), ") S ") &&
               read_file(proc + "/syscall").rfind(want, 0) == 0;
    };
    return poll_until(timeout_s, [&] { return asleep() && (usleep(100000), asleep()); });
}

int signal_named(const std::string &name)
{
    for (int sig = 1; sig < NSIG; sig++)
        if (sigabbrev_np(sig) && name == sigabbrev_np(sig)) return sig;
    ADD_FAILURE() << "no signal named " << name;
    return 0;
}

int bound_socket(int port, bool listening)
{
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 a{AF_INET6, htons(port), 0, in6addr_loopback, 0};
    if (bind(fd, (sockaddr *)&a, sizeof a) == 0 && (!listening || listen(fd, 1) == 0)) return fd;
    close(fd);
    return -1;
}

int free_port()
{
    // Apart from the ports of other test programs running at the same time.
    static int next = 20000 + getpid() % 1000 * 10;
    for (int fd;; next++)
        if ((fd = bound_socket(next, false)) >= 0) return close(fd), next++;
}

Spawned::Spawned(const RunSpec &run)
{
    std::vector<std::string> argv = run.argv;
    if (argv[0].find('/') == std::string::npos) argv[0] = bin_path(argv[0]);
    pid = spawn(argv, dir.path, dir / "out", dir / "err", [&run] {
        // A run's sanitizer options add to those the test runs under.
        for (auto &e : run.env) {
            const char *had = getenv("ASAN_OPTIONS");
            bool add = e.rfind("ASAN_OPTIONS=", 0) == 0 && had && *had;
            std::string v = add ? "ASAN_OPTIONS=" + std::string(had) + ":" + e.substr(13) : e;
            putenv(strdup(v.c_str()));
        }
    });
}

int Spawned::wait(double timeout_s)
{
    if (status < 0) status = wait_for(pid, timeout_s, SIGKILL);
    return status;
}

std::vector<pid_t> Spawned::children(size_t n, double timeout_s) const
{
    std::vector<pid_t> v;
    poll_until(timeout_s, [&] { return (v = children_of(pid)).size() == n; });
    return v;
}

void Spawned::expect(const RunSpec &run, double timeout_s)
{
    EXPECT_EQ(wait(timeout_s), run.status) << run.line;
    EXPECT_EQ(match_text(out(), run.out), "") << run.line;
    EXPECT_EQ(match_text(err(), run.err), "") << run.line;
}

std::string browser_dom(const std::string &html, const TempDir &t)
{
    EXPECT_FALSE(contains(read_file(html), "http")) << html << ": self-contained";
    RunResult r = run_program("/usr/bin/chromium",
                              {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                               "--no-first-run", "--disable-background-networking",
                               "--disable-component-update", "--disable-sync",
                               "--user-data-dir=" + t / "profile", "--dump-dom", "file://" + html});
    EXPECT_TRUE(r.exited && r.status == 0) << html << ": " << r.err;
    return r.out;
}

std::string table_rows(const std::string &dom, const std::string &id, int cols, int rows)
{
    TempDir t("table rows");
    write_file(t / "dom.html", dom);
    RunResult r =
        run_program("/usr/bin/python3",
                    {"-c",
                     "import re, sys, html\n"
                     "d = open(sys.argv[1]).read()\n"
                     "t = d[d.index('<table id=\"' + sys.argv[2] + '\"'):]\n"
                     "t = t[:t.index('</table>')]\n"
                     "cols, rows = int(sys.argv[3]) or None, int(sys.argv[4]) or None\n"
                     "for r in re.findall('<tr[^>]*>(.*?)</tr>', t, re.S)[:rows]:\n"
                     "  print(' | '.join(html.unescape(re.sub('<[^>]*>', '', c)).strip()\n"
                     "    for c in re.findall('<t[dh][^>]*>(.*?)</t[dh]>', r, re.S)[:cols]))\n",
                     t / "dom.html", id, std::to_string(cols), std::to_string(rows)});
    EXPECT_TRUE(r.exited && r.status == 0) << id << ": " << r.err;
    return r.out;
}

pid_t child_ending(int how)
{
    fflush(nullptr);
    pid_t p = fork();
    if (p == 0) {
        if (how < 0) raise(-how);
        _exit(how);
    }
    return p;
}

std::string stderr_of(const std::function<void()> &f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}
