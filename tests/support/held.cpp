#include "tests/support/held.h"

#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

HeldRun::HeldRun(const std::vector<std::string> &argv)
{
    out_fd = memfd_create("held-out", 0);
    int fds[2];
    if (out_fd < 0 || pipe(fds) != 0) return;
    std::vector<std::string> copy = argv;
    std::vector<char *> av;
    for (auto &a : copy) av.push_back(a.data());
    av.push_back(nullptr);
    fflush(nullptr);
    pid = fork();
    if (pid == 0) {
        close(fds[1]);
        char c;
        if (read(fds[0], &c, 1) != 1) _exit(126);
        dup2(out_fd, 1);
        dup2(out_fd, 2);
        setpgid(0, 0);
        execv(av[0], av.data());
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

int HeldRun::wait(int timeout_s)
{
    int status = -1;
    if (!poll_until(timeout_s, [&] { return waitpid(pid, &status, WNOHANG) == pid; })) return -1;
    pid = -1;
    return status;
}

std::string HeldRun::output() const
{
    std::string out;
    char buf[65536];
    ssize_t n;
    for (off_t off = 0; (n = pread(out_fd, buf, sizeof buf, off)) > 0; off += n) out.append(buf, n);
    return out;
}

pid_t HeldRun::child(double timeout_s) const
{
    pid_t found = -1;
    poll_until(timeout_s, [&] {
        DIR *d = opendir("/proc");
        if (!d) return false;
        while (struct dirent *de = readdir(d)) {
            if (!isdigit(de->d_name[0])) continue;
            std::string stat = read_file(std::string("/proc/") + de->d_name + "/stat");
            size_t paren = stat.rfind(')');
            int ppid = 0;
            char state;
            if (paren != std::string::npos &&
                sscanf(stat.c_str() + paren + 1, " %c %d", &state, &ppid) == 2 && ppid == pid) {
                found = atoi(de->d_name);
                break;
            }
        }
        closedir(d);
        return found > 0;
    });
    return found;
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
