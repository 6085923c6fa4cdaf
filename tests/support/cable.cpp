#include "tests/support/cable.h"

#include "platform/termio.h"
#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static bool have_socat()
{
    return access("/usr/bin/socat", X_OK) == 0;
}

Cable::Cable(Kind kind, const std::string &dir)
{
    if (!have_socat()) {
        error = "socat not found (Debian package socat)";
        return;
    }
    a = dir + "/cable-a";
    b = dir + "/cable-b";
    std::string log = dir + "/cable.log";
    // wait-slave: socat makes end B only once end A is open, and carries data
    // only once both are; the holds below get it there.
    std::string opts = kind == DATA ? ",ignoreeof" : ",wait-slave,pty-interval=0.02";
    std::vector<std::string> argv = {"/usr/bin/socat", "-d", "-d"};
    if (kind == HANGUP) argv.push_back("-t0");
    argv.push_back("pty,rawer,link=" + a + opts);
    argv.push_back("pty,rawer,link=" + b + opts);
    auto hold = [&](const std::string &end, int &fd) {
        if (!poll_until(10, [&] { return access(end.c_str(), F_OK) == 0; })) return false;
        fd = open(end.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        return fd >= 0;
    };
    // On a loaded machine a cable now and then does not come up in time: it
    // is laid again, twice at the most, before the test gives up on it.
    for (int attempt = 0; attempt < 3; attempt++) {
        if (attempt > 0) {
            pull();
            unlink(a.c_str());
            unlink(b.c_str());
        }
        socat = spawn(argv, "", "/dev/null", log);
        if (hold(a, fd_a) && hold(b, fd_b) && poll_until(10, [&] {
                return contains(read_file(log), "starting data transfer loop");
            })) {
            error.clear();
            return;
        }
        error = "socat cable did not come up: " + read_file(log);
    }
}

Cable::~Cable()
{
    for (pid_t p : sinks) wait_for(p, 0, SIGKILL);
    let_go(fd_a);
    let_go(fd_b);
    if (socat > 0) {
        kill(socat, SIGTERM);
        wait_for(socat, 10);
    }
}

void Cable::pull()
{
    let_go(fd_a);
    let_go(fd_b);
    if (socat > 0) {
        wait_for(socat, 0, SIGKILL);
        socat = -1;
    }
}

void Cable::let_go(int &end)
{
    if (end >= 0) close(end);
    end = -1;
}

bool Cable::hang_up(const std::string &end)
{
    pid_t p = fork();
    if (p == 0) {
        // vhangup works on the caller's controlling terminal: make the end
        // that of a session of its own.
        signal(SIGHUP, SIG_IGN);
        if (setsid() < 0) _exit(1);
        int fd = open(end.c_str(), O_RDWR);
        _exit(fd >= 0 && vhangup() == 0 ? 0 : 2);
    }
    int st = -1;
    if (p > 0) waitpid(p, &st, 0);
    return st == 0;
}

void Cable::follow_close(const std::string &other)
{
    if (poll_until(1, [&] { return waitpid(socat, nullptr, WNOHANG) == socat; }))
        socat = -1;
    else
        hang_up(other);
}

void Cable::sink(int end)
{
    pid_t p = fork();
    if (p == 0) {
        char buf[4096];
        while (read(end, buf, sizeof buf) > 0) {
        }
        _exit(0);
    }
    if (p > 0) sinks.push_back(p);
}

bool Cable::put(int end, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(end, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

std::string repeat(const std::string &text, size_t n)
{
    std::string r;
    while (n-- > 0) r += text;
    return r;
}

long blocks_in(const std::string &capture)
{
    size_t n = capture.size() / 31;
    return capture == repeat(PATTERN + "\n", n) + "\n" ? long(n) : -1;
}

// The descriptor by which pid has the device that path names open, or -1.
static int port_fd(pid_t pid, const std::string &path)
{
    char dev[PATH_MAX];
    if (!realpath(path.c_str(), dev)) return -1;
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (!d) return -1;
    int found = -1;
    while (dirent *e = readdir(d)) {
        char target[PATH_MAX];
        ssize_t n = readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, n) == dev) found = atoi(e->d_name);
    }
    closedir(d);
    return found;
}

// Whether pid has the device that path names open, or has ended.
static bool has_opened(pid_t pid, const std::string &path)
{
    if (has_ended(pid)) return true;
    std::string proc = "/proc/" + std::to_string(pid);
    // Until it has started the program, a child shows the test's own
    // descriptors, the cable's holds among them.
    char self[PATH_MAX], exe[PATH_MAX];
    ssize_t s = readlink("/proc/self/exe", self, sizeof self - 1);
    ssize_t e = readlink((proc + "/exe").c_str(), exe, sizeof exe - 1);
    if (s <= 0 || e <= 0 || std::string(self, s) == std::string(exe, e)) return false;
    return port_fd(pid, path) >= 0;
}

// Whether pid is held up in a read (0) or write (1) on the device that path
// names: asleep in that system call on the port, twice a little apart (a
// transfer still under way is seldom asleep, never for long).
static bool waits_on_port(pid_t pid, int syscall, const std::string &path)
{
    int fd = port_fd(pid, path);
    return fd >= 0 && asleep_in(pid, syscall, 0, fd);
}

std::vector<RunSpec> cable_runs(const std::string &name)
{
    return runs_in("tests/serial/transcripts/" + name, {{"<A>", "/tmp/cable-a"},
                                                        {"<B>", "/tmp/cable-b"},
                                                        {"<P>", PATTERN},
                                                        {"<NUL>", std::string(1, '\0')}});
}

static bool own_word(const std::string &w)
{
    return islower((unsigned char)w[0]);
}

pid_t launch(const RunSpec &run, const std::string &tag, const std::function<void()> &in_child)
{
    std::vector<std::string> argv = run.argv;
    argv[0] = bin_path(argv[0]);
    return spawn(argv, "", "/tmp/" + tag + ".out", "/tmp/" + tag + ".err", [&] {
        unsetenv("RUNTIME");
        unsetenv("RUNPRD");
        for (auto &e : run.env)
            if (!own_word(e)) putenv(strdup(e.c_str()));
        if (in_child) in_child();
    });
}

std::vector<std::string> words(const RunSpec &run, const std::string &name)
{
    std::vector<std::string> found;
    for (auto &e : run.env)
        if (own_word(e) && e.compare(0, name.size() + 1, name + "=") == 0)
            found.push_back(e.substr(name.size() + 1));
    return found;
}

std::string word(const RunSpec &run, const std::string &name, const std::string &otherwise)
{
    std::vector<std::string> found = words(run, name);
    return found.empty() ? otherwise : found.back();
}

void expect_output(const RunSpec &run, const std::string &tag, pid_t pid)
{
    const std::string out = read_file("/tmp/" + tag + ".out");
    std::string rest;
    long long read = 0, written = -1, killed;
    for (const std::string &l : split_lines(out)) {
        long long id, n, c;
        char tail;
        if (sscanf(l.c_str(), "R%lld %lld%c", &id, &n, &tail) == 2) {
            EXPECT_EQ(id, pid) << l;
            read += n;
        } else if (sscanf(l.c_str(), "W%lld %lld/%lld%c", &id, &n, &c, &tail) == 3) {
            EXPECT_EQ(id, pid) << l;
            EXPECT_EQ(c, std::max(written, 0LL) + n) << l;
            written = c;
        } else {
            rest += l + "\n";
        }
    }
    if (!ends_with(out, "\n") && !rest.empty()) rest.pop_back();
    EXPECT_EQ(match_text(rest, run.out), "") << tag;
    EXPECT_EQ(match_text(read_file("/tmp/" + tag + ".err"), run.err), "") << tag;
    if (sscanf(rest.c_str(), "!WARNING: killed %lld", &killed) == 1) {
        EXPECT_EQ(killed, written >= 0 ? written : read > 0 ? read : killed / 30 * 30) << rest;
    }
    // read= and written= give a count, or with "+" the least count.
    auto counts = [&](const std::string &name, long long got, const std::string &otherwise) {
        std::string want = word(run, name, otherwise);
        EXPECT_TRUE(ends_with(want, "+") ? got >= atoll(want.c_str()) : got == atoll(want.c_str()))
            << tag << " " << name << " " << got;
    };
    counts("read", read, "0+");
    counts("written", written, std::to_string(written));
    std::string seen;
    if (!run.look.empty()) shell(run.look, &seen);
    EXPECT_EQ(match_text(seen, run.seen), "") << run.look;
}

// The flags in hex (without the speed), VMIN, VTIME and the speed.
static std::string port_of(int fd)
{
    TermParams t;
    char s[80] = "?";
    if (term_get(fd, &t) == 0)
        snprintf(s, sizeof s, "%x/%x/%x/%x/%d/%d/%u", t.iflag, t.oflag, t.cflag, t.lflag, t.vmin,
                 t.vtime, t.speed);
    return s;
}

// In a background process group of a session whose terminal is the port,
// ignoring SIGTTIN: reads of the port are refused.
static void to_background(const std::string &port)
{
    setsid();
    int ctty = open(port.c_str(), O_RDWR);
    if (pid_t child = fork(); child > 0) {
        int st;
        waitpid(child, &st, 0);
        _exit(status_of(st));
    }
    setpgid(0, 0);
    signal(SIGTTIN, SIG_IGN);
    signal(SIGTTOU, SIG_IGN);
    close(ctty);
}

void PrivateTmpTest::play(const RunSpec &r)
{
    SCOPED_TRACE(r.line);
    Cable cable(Cable::DATA);
    ASSERT_TRUE(cable.ok()) << cable.error;
    const std::string prog = r.argv[0], plant = word(r, "plant"), then = word(r, "then");
    const std::string file = prog == "lanerx" ? "/tmp/devnam" : "/tmp/" + prog + ".tmp";
    write_file("/tmp/target", "kept");
    unlink(file.c_str());
    if (plant == "full" && !file_exists("/tmp/small/filler")) {
        // A file system with no room left: one page, taken by the filler.
        ASSERT_TRUE(ns.tmpfs("/tmp/small", "tmpfs", "size=4k"));
        write_file("/tmp/small/full", "");
        write_file("/tmp/small/filler", std::string(4096, 'x'));
    }
    ASSERT_TRUE(plant != "link" || symlink("/tmp/target", file.c_str()) == 0);
    ASSERT_TRUE(plant != "fifo" || mkfifo(file.c_str(), 0666) == 0);
    ASSERT_TRUE(plant != "dir" || mkdir(file.c_str(), 0777) == 0);
    if (plant == "full" || plant == "node") {
        write_file(file, "");
        ASSERT_TRUE(ns.bind(plant == "full" ? "/tmp/small/full" : "/dev/null", file));
    }
    struct stat planted = {}, after = {};
    lstat(file.c_str(), &planted);
    // Start from settings no program makes.
    TermParams t;
    ASSERT_EQ(term_get(cable.fd_a, &t), 0);
    t.iflag = t.oflag = t.lflag = 0;
    t.cflag = T_CS8;
    t.vmin = 7;
    t.speed = 50;
    ASSERT_EQ(term_set(cable.fd_a, &t), 0);

    pid_t pid = launch(r, "p", [&] {
        if (plant == "background") to_background(cable.a);
    });
    for (const std::string &data : words(r, "feed")) {
        ASSERT_TRUE(poll_until(20, [&] { return has_opened(pid, cable.a); }));
        usleep(300000);
        ASSERT_TRUE(cable.put(cable.fd_b, data));
    }
    const std::string port = word(r, "port");
    EXPECT_TRUE(port.empty() || poll_until(20, [&] { return port_of(cable.fd_a) == port; }))
        << port_of(cable.fd_a);
    if (then == "pull") {
        cable.sink(cable.fd_b);
        sleep(1);
        cable.pull();
    } else if (!then.empty()) {
        EXPECT_TRUE(poll_until(
            30, [&] { return waits_on_port(pid, 0, cable.a) || waits_on_port(pid, 1, cable.a); }));
        if (then == "hangup") {
            EXPECT_TRUE(cable.hang_up(cable.a));
        } else {
            std::vector<int> sigs;
            std::istringstream names(then);
            for (std::string n; std::getline(names, n, ',');) sigs.push_back(signal_named(n));
            kill_in_turn(pid, sigs, atoi(word(r, "gap", "0").c_str()));
        }
    }
    EXPECT_EQ(wait_for(pid, atoi(word(r, "within", "20").c_str())), r.status);

    expect_output(r, "p", pid);
    EXPECT_EQ(read_file("/tmp/target"), "kept");
    EXPECT_TRUE((plant != "fifo" && plant != "dir" && plant != "node") ||
                (lstat(file.c_str(), &after) == 0 && after.st_mode == planted.st_mode &&
                 after.st_rdev == planted.st_rdev));
    EXPECT_TRUE((plant != "full" && plant != "node") || ns.umount(file));
    EXPECT_TRUE(plant != "dir" || rmdir(file.c_str()) == 0);
    if (word(r, "blocks") == "part") {
        const std::string kept = read_file(file);
        EXPECT_EQ(kept,
                  repeat(PATTERN + "\n", kept.size() / 31) + PATTERN.substr(0, kept.size() % 31));
    }
}

void PrivateTmpTest::play_all(const std::string &transcript)
{
    for (const RunSpec &r : cable_runs(transcript)) play(r);
}

void PrivateTmpTest::play_pairs(const std::string &transcript)
{
    auto runs = cable_runs(transcript);
    ASSERT_EQ(runs.size() % 2, 0u) << transcript << ": runs come in pairs, receiver first";
    for (size_t i = 0; i + 1 < runs.size(); i += 2) {
        const RunSpec &rx = runs[i], &tx = runs[i + 1];
        SCOPED_TRACE(rx.line + " | " + tx.line);
        const std::string got_file = "/tmp/" + rx.argv[0] + ".tmp",
                          sent_file = "/tmp/" + tx.argv[0] + ".tmp", blocks = word(tx, "blocks");
        unlink(got_file.c_str());
        unlink(sent_file.c_str());
        write_file("/tmp/devnam", "an earlier run's device\n");
        const bool hangup = word(rx, "cable") == "hangup";
        Cable cable(hangup ? Cable::HANGUP : Cable::DATA);
        ASSERT_TRUE(cable.ok()) << cable.error;
        pid_t r = launch(rx, "rx");
        ASSERT_TRUE(poll_until(20, [&] { return waits_on_port(r, 0, cable.a); }));
        if (hangup) cable.let_go(cable.fd_a);
        pid_t t = launch(tx, "tx");
        int rs, ts;
        bool stopped = false;
        if (!hangup) {
            poll_until(60, [&] { return has_ended(r) || has_ended(t); });
            if (has_ended(r)) cable.sink(cable.fd_a);
            ts = wait_for(t, 60);
            rs = wait_for(r, 3, SIGTERM, &stopped);
        } else if (tx.status == 0) {
            ts = wait_for(t, 30);
            EXPECT_TRUE(poll_until(20, [&] { return waits_on_port(r, 0, cable.a); }));
            EXPECT_TRUE(cable.hang_up(cable.a));
            rs = wait_for(r, 30);
        } else {
            ASSERT_TRUE(poll_until(20, [&] { return has_opened(t, cable.b); }));
            cable.let_go(cable.fd_b);
            rs = wait_for(r, 30);
            cable.follow_close(cable.b);
            ts = wait_for(t, 30);
        }
        EXPECT_EQ(rs, rx.status);
        EXPECT_EQ(ts, tx.status);
        EXPECT_TRUE(!stopped || tx.argv[0] == "txpace") << "the receiver did not end";
        expect_output(rx, "rx", r);
        expect_output(tx, "tx", t);
        std::string sent = read_file(sent_file), got = read_file(got_file);
        if (blocks == "none") {
            EXPECT_FALSE(file_exists(sent_file));
            EXPECT_EQ(got, stopped ? "" : "PASS");
        } else if (!blocks.empty()) {
            long n = blocks_in(sent);
            EXPECT_TRUE(blocks == "some" ? n > 0 : n == 0) << n;
            EXPECT_TRUE(n == 0 || got.size() > 31) << "nothing arrived";
            EXPECT_EQ(stopped ? sent.substr(0, got.size()) : sent, got);
        }
        if (tx.argv[0] == "txpace")
            printf("%s: the marker %s\n", tx.line.c_str(),
                   stopped ? "was flushed away before the cable carried it" : "arrived");
    }
}

void PrivateTmpTest::SetUp()
{
    if (!ns.ok()) GTEST_SKIP() << ns.error;
    if (!have_socat()) GTEST_SKIP() << "socat not found (Debian package socat)";
    // A source or build tree under /tmp stays in sight: its transcripts and
    // programs are bound back over the fresh /tmp.
    std::vector<std::pair<std::string, int>> keep;
    for (const std::string dir : {SUITE_SOURCE_DIR, SUITE_BIN_DIR})
        if (dir.rfind("/tmp/", 0) == 0)
            keep.push_back({dir, open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)});
    ASSERT_TRUE(ns.tmpfs("/tmp")) << strerror(errno);
    for (auto &[dir, fd] : keep) {
        make_dirs(dir);
        EXPECT_TRUE(ns.bind("/proc/self/fd/" + std::to_string(fd), dir)) << strerror(errno);
        close(fd);
    }
}
