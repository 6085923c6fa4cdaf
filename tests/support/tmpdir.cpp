#include "tests/support/tmpdir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <mntent.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

static int remove_entry(const char *p, const struct stat *, int flag, FTW *)
{
    if (flag == FTW_DP)
        rmdir(p);
    else
        unlink(p);
    return 0;
}

// Removes a tree without crossing mount points.
static void remove_tree(const std::string &path)
{
    if (!path.empty() && path != "/")
        nftw(path.c_str(), remove_entry, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

TempDir::TempDir(const std::string &tag)
{
    const char *base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/hwsuite-" + tag + ".XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp: " + std::string(strerror(errno)));
    path = buf.data();
}

// A test may still hold mounts inside the directory (its MountNs goes after
// it): detach them first, deepest first, so the directory goes too. Only the
// process's own namespace is touched, and only below this directory.
static void detach_mounts_below(const std::string &dir)
{
    std::vector<std::string> below;
    if (FILE *t = setmntent("/proc/self/mounts", "r")) {
        while (mntent *m = getmntent(t)) {
            std::string d = m->mnt_dir;
            if (d.size() > dir.size() && d.compare(0, dir.size(), dir) == 0 && d[dir.size()] == '/')
                below.push_back(d);
        }
        endmntent(t);
    }
    for (auto it = below.rbegin(); it != below.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
}

TempDir::~TempDir()
{
    detach_mounts_below(path);
    remove_tree(path);
}

void write_file(const std::string &path, const std::string &content, int mode)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) throw std::runtime_error("open " + path + ": " + strerror(errno));
    size_t done = 0;
    while (done < content.size()) {
        ssize_t w = write(fd, content.data() + done, content.size() - done);
        if (w <= 0) {
            close(fd);
            throw std::runtime_error("write " + path);
        }
        done += w;
    }
    close(fd);
    chmod(path.c_str(), mode);
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void make_dirs(const std::string &path)
{
    for (size_t i = 1; i <= path.size(); i++)
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0755);
}

void make_tree(const std::string &root,
               const std::vector<std::pair<std::string, std::string>> &entries)
{
    make_dirs(root);
    for (auto &[name, content] : entries) {
        std::string p = root + "/" + name;
        if (!name.empty() && name.back() == '/') {
            make_dirs(p.substr(0, p.size() - 1));
        } else {
            size_t slash = p.rfind('/');
            make_dirs(p.substr(0, slash));
            write_file(p, content);
        }
    }
}

int hold_lock(const std::string &path)
{
    make_dirs(path.substr(0, path.rfind('/')));
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    if (fd >= 0 && fcntl(fd, F_SETLK, &whole) != 0) close(fd), fd = -1;
    return fd;
}
