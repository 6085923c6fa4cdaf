#include "tests/support/mountns.h"

#include "platform/mounts.h"
#include "tests/support/process.h"
#include "tests/support/tmpdir.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <unistd.h>

bool have_root(std::string *why)
{
    if (geteuid() != 0) {
        if (why) *why = "needs root (mount namespaces, loop devices)";
        return false;
    }
    return true;
}

MountNs::MountNs()
{
    if (!have_root(&error)) return;
    home_ns = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    if (home_ns < 0) {
        error = std::string("open /proc/self/ns/mnt: ") + strerror(errno);
        return;
    }
    if (unshare(CLONE_NEWNS) != 0) {
        error = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
        close(home_ns);
        home_ns = -1;
        return;
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        error = std::string("make / private: ") + strerror(errno);
        setns(home_ns, CLONE_NEWNS);
        close(home_ns);
        home_ns = -1;
    }
}

MountNs::~MountNs()
{
    if (home_ns < 0) return;
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    for (auto &l : loops) shell("losetup -d " + l + " 2>/dev/null");
    setns(home_ns, CLONE_NEWNS);
    close(home_ns);
}

bool MountNs::tmpfs(const std::string &dir, const std::string &source, const std::string &options)
{
    make_dirs(dir);
    if (mount(source.c_str(), dir.c_str(), "tmpfs", 0, options.c_str()) != 0) return false;
    mounts.push_back(dir);
    return true;
}

std::string MountNs::loop(const std::string &image, int size_mb, int sector_size)
{
    if (truncate(image.c_str(), 0) != 0) write_file(image, "");
    if (truncate(image.c_str(), (off_t)size_mb << 20) != 0) return "";
    std::string dev;
    if (shell("losetup -f --show --sector-size " + std::to_string(sector_size) + " " + image,
              &dev) != 0)
        return "";
    dev.erase(std::remove(dev.begin(), dev.end(), '\n'), dev.end());
    loops.push_back(dev);
    return dev;
}

std::string MountNs::ext4(const std::string &image, const std::string &dir, int size_mb,
                          const std::string &options)
{
    std::string dev = loop(image, size_mb);
    if (dev.empty()) return "";
    if (shell("mkfs.ext4 -q -F " + dev) != 0) return "";
    make_dirs(dir);
    if (mount(dev.c_str(), dir.c_str(), "ext4", 0, options.empty() ? nullptr : options.c_str()))
        return "";
    mounts.push_back(dir);
    return dev;
}

bool MountNs::bind(const std::string &src, const std::string &target)
{
    if (mount(src.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    mounts.push_back(target);
    return true;
}

bool MountNs::overlay_root(const std::string &dir)
{
    std::string layers = dir + ".layers";
    if (!tmpfs(layers, "tmpfs", "size=1g")) return false;
    make_dirs(layers + "/up");
    make_dirs(layers + "/work");
    make_dirs(dir);
    std::string opts = "lowerdir=/,upperdir=" + layers + "/up,workdir=" + layers + "/work";
    if (mount("overlay", dir.c_str(), "overlay", 0, opts.c_str()) != 0) return false;
    mounts.push_back(dir);
    for (const char *d : {"/proc", "/sys", "/dev"}) {
        if (mount(d, (dir + d).c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return false;
        mounts.push_back(dir + d);
    }
    return tmpfs(dir + "/tmp");
}

bool MountNs::hide_host_mounts()
{
    std::vector<mount_entry> table;
    FILE *f = mnt_open();
    for (mount_entry e; f && mnt_next(f, &e);) table.push_back(e);
    mnt_close(f);
    std::set<std::string> seen;
    bool all = true;
    for (auto it = table.rbegin(); it != table.rend(); ++it) {
        const char *p = it->mnt_mountp.c_str();
        if (!seen.insert(p).second) umount2(p, MNT_DETACH);
        all = mount(nullptr, p, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0 && all;
    }
    return all;
}

bool MountNs::umount(const std::string &dir)
{
    auto it = std::find(mounts.begin(), mounts.end(), dir);
    if (it == mounts.end() || umount2(dir.c_str(), 0) != 0) return false;
    mounts.erase(it);
    return true;
}
