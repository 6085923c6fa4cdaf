#include "tests/support/process.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

std::string bin_path(const std::string &name)
{
    return std::string(SUITE_BIN_DIR) + "/" + name;
}

static double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

RunResult run_program(const std::string &path, const std::vector<std::string> &args,
                      const RunOptions &opt)
{
    RunResult r;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
        r.err = "pipe failed";
        return r;
    }
    std::vector<std::string> argv_s;
    argv_s.push_back(opt.argv0.empty() ? path : opt.argv0);
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : argv_s) argv.push_back(a.data());
    argv.push_back(nullptr);

    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (opt.new_group) setpgid(0, 0);
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (auto &n : opt.unset) unsetenv(n.c_str());
        for (auto &e : opt.env) putenv(strdup(e.c_str()));
        signal(SIGPIPE, SIG_DFL);
        if (!opt.cwd.empty() && chdir(opt.cwd.c_str()) != 0) _exit(126);
        execv(path.c_str(), argv.data());
        fprintf(stderr, "exec %s: %s\n", path.c_str(), strerror(errno));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        r.err = "fork failed";
        return r;
    }
    if (opt.new_group) setpgid(pid, pid);
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    size_t written = 0;
    int infd = in[1];
    if (opt.input.empty()) {
        close(infd);
        infd = -1;
    }
    double deadline = now_s() + opt.timeout_s;
    int outfd = out[0], errfd = err[0];
    while (outfd >= 0 || errfd >= 0) {
        pollfd p[3];
        int n = 0;
        int io = -1, oo = -1, eo = -1;
        if (infd >= 0) {
            io = n;
            p[n++] = {infd, POLLOUT, 0};
        }
        if (outfd >= 0) {
            oo = n;
            p[n++] = {outfd, POLLIN, 0};
        }
        if (errfd >= 0) {
            eo = n;
            p[n++] = {errfd, POLLIN, 0};
        }
        double left = deadline - now_s();
        if (left <= 0) {
            r.timed_out = true;
            kill(opt.new_group ? -pid : pid, SIGKILL);
            break;
        }
        int k = poll(p, n, (int)(left * 1000) + 1);
        if (k < 0 && errno != EINTR) break;
        if (k <= 0) continue;
        if (io >= 0 && p[io].revents) {
            ssize_t w = write(infd, opt.input.data() + written, opt.input.size() - written);
            if (w > 0) written += w;
            if (w < 0 && errno != EAGAIN && errno != EINTR) written = opt.input.size();
            if (written >= opt.input.size()) {
                close(infd);
                infd = -1;
            }
        }
        auto drain = [&](int idx, int &fd, std::string &dst) {
            if (idx < 0 || !p[idx].revents) return;
            char buf[65536];
            ssize_t g = read(fd, buf, sizeof buf);
            if (g > 0)
                dst.append(buf, g);
            else if (g == 0 || (errno != EINTR && errno != EAGAIN)) {
                close(fd);
                fd = -1;
            }
        };
        drain(oo, outfd, r.out);
        drain(eo, errfd, r.err);
    }
    if (infd >= 0) close(infd);
    if (outfd >= 0) close(outfd);
    if (errfd >= 0) close(errfd);
    int st = 0;
    // Output closed: the program has ended or closed its streams; wait for it within the deadline.
    while (true) {
        pid_t w = waitpid(pid, &st, WNOHANG);
        if (w == pid) break;
        if (w < 0 && errno != EINTR) return r;
        if (now_s() > deadline && !r.timed_out) {
            r.timed_out = true;
            kill(opt.new_group ? -pid : pid, SIGKILL);
        }
        usleep(2000);
    }
    if (WIFEXITED(st)) {
        r.exited = true;
        r.status = WEXITSTATUS(st);
    } else if (WIFSIGNALED(st)) {
        r.signal = WTERMSIG(st);
    }
    return r;
}

int shell(const std::string &cmd, std::string *out)
{
    RunOptions o;
    o.new_group = false;
    RunResult r = run_program("/bin/sh", {"-c", cmd}, o);
    if (out) *out = r.out + r.err;
    return r.exited ? r.status : 128 + r.signal;
}

pid_t spawn(const std::vector<std::string> &argv, const std::string &cwd, const std::string &out,
            const std::string &err, const std::function<void()> &in_child)
{
    std::vector<std::string> copy = argv;
    std::vector<char *> av;
    for (auto &a : copy) av.push_back(a.data());
    av.push_back(nullptr);
    fflush(nullptr);
    pid_t p = fork();
    if (p == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
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

int wait_for(pid_t pid, int timeout_s)
{
    for (int i = 0; i < timeout_s * 100; i++) {
        int st;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid) return st;
        if (r < 0) return -1;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    int st;
    waitpid(pid, &st, 0);
    return -1;
}

static std::string read_all(int fd)
{
    std::string text;
    char buf[65536];
    ssize_t n;
    for (off_t off = 0; (n = pread(fd, buf, sizeof buf, off)) > 0; off += n) text.append(buf, n);
    close(fd);
    return text;
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
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}
