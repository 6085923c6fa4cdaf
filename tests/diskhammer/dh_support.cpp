#include "tests/diskhammer/dh_support.h"

#include "platform/mounts.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

static std::vector<std::pair<std::string, std::string>> mount_points()
{
    std::vector<std::pair<std::string, std::string>> points;
    FILE *t = mnt_open();
    mount_entry e;
    while (t && mnt_next(t, &e)) points.push_back({e.mnt_mountp, e.mnt_mntopts});
    mnt_close(t);
    return points;
}

bool hide_host_mounts(std::string *why)
{
    auto points = mount_points();
    std::set<std::string> seen;
    // Newest first; a mount hidden under a newer one on the same point is
    // reached by taking the newer one away (in this namespace only).
    for (auto it = points.rbegin(); it != points.rend(); ++it) {
        const std::string &p = it->first;
        if (seen.count(p)) umount2(p.c_str(), MNT_DETACH);
        seen.insert(p);
        mount(nullptr, p.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
    }
    for (auto &[p, opts] : mount_points()) {
        std::string o = "," + opts + ",";
        if (o.find(",ro,") == std::string::npos) {
            if (why) *why = "could not make " + p + " read-only in the test's namespace";
            return false;
        }
    }
    return true;
}

HeldRun::HeldRun(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    // In memory: the test's namespace may have every file system read-only.
    int ofd = memfd_create("dh-out", 0);
    out_fd = ofd;
    int fds[2];
    if (pipe(fds) != 0) return;
    pid = fork();
    if (pid == 0) {
        close(fds[1]);
        char c;
        if (read(fds[0], &c, 1) != 1) _exit(126);
        dup2(ofd, 1);
        dup2(ofd, 2);
        setpgid(0, 0);
        std::vector<char *> argv;
        std::string path = bin_path("diskhammer");
        argv.push_back((char *)path.c_str());
        for (auto &a : args) argv.push_back((char *)a.c_str());
        argv.push_back(nullptr);
        for (auto &e : env) putenv((char *)e.c_str());
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(fds[0]);
    gate = fds[1];
}

HeldRun::~HeldRun()
{
    if (gate >= 0) close(gate);
    if (pid > 0) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (out_fd >= 0) close(out_fd);
}

void HeldRun::release()
{
    if (gate >= 0 && write(gate, "g", 1) != 1) perror("release");
    close(gate);
    gate = -1;
}

int HeldRun::wait()
{
    int status = -1;
    for (int i = 0; i < 1200; i++) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

std::string HeldRun::output() const
{
    std::string out;
    char buf[65536];
    ssize_t n;
    for (off_t off = 0; (n = pread(out_fd, buf, sizeof buf, off)) > 0; off += n) out.append(buf, n);
    return out;
}

int child_of(int parent, double timeout_s)
{
    int found = -1;
    poll_until(timeout_s, [&] {
        DIR *d = opendir("/proc");
        if (!d) return false;
        while (struct dirent *de = readdir(d)) {
            if (!isdigit(de->d_name[0])) continue;
            std::string stat = read_file(std::string("/proc/") + de->d_name + "/stat");
            size_t close_paren = stat.rfind(')');
            if (close_paren == std::string::npos) continue;
            int ppid = 0;
            char state;
            if (sscanf(stat.c_str() + close_paren + 1, " %c %d", &state, &ppid) == 2 &&
                ppid == parent) {
                found = atoi(de->d_name);
                break;
            }
        }
        closedir(d);
        return found > 0;
    });
    return found;
}

bool wait_lock_waiter(dev_t dev, unsigned long inode, double timeout_s)
{
    // The whole file identity: tests running at the same time have files
    // with the same inode number on other tmpfs mounts.
    char key[64];
    snprintf(key, sizeof key, " %02x:%02x:%lu ", major(dev), minor(dev), inode);
    return poll_until(timeout_s, [&] {
        std::istringstream in(read_file("/proc/locks"));
        std::string line;
        while (std::getline(in, line))
            if (line.find(" -> ") != std::string::npos && line.find(key) != std::string::npos)
                return true;
        return false;
    });
}

unsigned long long checksum(const std::string &path)
{
    unsigned long long h = 1469598103934665603ULL;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    std::vector<unsigned char> buf(1 << 20);
    ssize_t n;
    while ((n = read(fd, buf.data(), buf.size())) > 0)
        for (ssize_t i = 0; i < n; i++) h = (h ^ buf[i]) * 1099511628211ULL;
    close(fd);
    return h;
}

std::string uname_a()
{
    std::string out;
    shell("uname -a", &out);
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}
