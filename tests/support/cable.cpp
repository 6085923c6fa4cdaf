#include "tests/support/cable.h"

#include "tests/support/process.h"
#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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
    for (pid_t p : sinks) kill(p, SIGKILL);
    for (pid_t p : sinks) waitpid(p, nullptr, 0);
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
        kill(socat, SIGKILL);
        wait_for(socat, 10);
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

static char state_of(const std::string &proc)
{
    std::string stat = read_file(proc + "/stat");
    size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() ? 'X' : stat[paren + 2];
}

bool has_opened(pid_t pid, const std::string &path)
{
    std::string proc = "/proc/" + std::to_string(pid);
    char state = state_of(proc);
    if (state == 'Z' || state == 'X') return true;
    // Until it has started the program, a child shows the test's own
    // descriptors, the cable's holds among them.
    char self[PATH_MAX], exe[PATH_MAX];
    ssize_t s = readlink("/proc/self/exe", self, sizeof self - 1);
    ssize_t e = readlink((proc + "/exe").c_str(), exe, sizeof exe - 1);
    if (s <= 0 || e <= 0 || std::string(self, s) == std::string(exe, e)) return false;
    return port_fd(pid, path) >= 0;
}

// Asleep in that system call on the port, twice a little apart: a transfer
// still under way is seldom asleep, never for long.
bool waits_on_port(pid_t pid, int syscall, const std::string &path)
{
    std::string proc = "/proc/" + std::to_string(pid);
    int fd = port_fd(pid, path);
    if (fd < 0) return false;
    char want[32];
    snprintf(want, sizeof want, "%d 0x%x ", syscall, fd);
    auto asleep = [&] {
        return state_of(proc) == 'S' && read_file(proc + "/syscall").rfind(want, 0) == 0;
    };
    if (!asleep()) return false;
    usleep(100000);
    return asleep();
}

pid_t launch(const std::string &tag, const std::string &program,
             const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    std::vector<std::string> argv = {bin_path(program)};
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv, "", "/tmp/" + tag + ".out", "/tmp/" + tag + ".err", [&env] {
        unsetenv("RUNTIME");
        unsetenv("RUNPRD");
        for (auto &e : env) putenv(strdup(e.c_str()));
    });
}

void PrivateTmpTest::SetUp()
{
    if (!ns.ok()) GTEST_SKIP() << ns.error;
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
