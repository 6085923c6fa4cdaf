// A private mount namespace for one test, with real file systems in it.
//
// Entering makes the test process (and every program it starts) see a private
// copy of the mount table; "/" is made private, so nothing mounted here
// reaches the host. Leaving unmounts what the test mounted, detaches its loop
// devices and returns the process to the namespace it came from, so the
// private one dies with the test. Needs root; callers skip otherwise:
//
//     MountNs ns;
//     if (!ns.ok()) GTEST_SKIP() << ns.error;
#pragma once
#include <string>
#include <vector>

struct MountNs {
    MountNs();
    ~MountNs();
    MountNs(const MountNs &) = delete;
    MountNs &operator=(const MountNs &) = delete;

    bool ok() const { return error.empty(); }
    std::string error;

    // tmpfs on dir under any source name (e.g. "/dev/dsk/c0t3d0s6"); false on failure.
    bool tmpfs(const std::string &dir, const std::string &source = "tmpfs",
               const std::string &options = "size=64m");
    // A sparse image of size_mb at image, made ext4 with mkfs.ext4, attached to a
    // loop device and mounted on dir with options. Returns the loop device, or
    // "" on failure.
    std::string ext4(const std::string &image, const std::string &dir, int size_mb = 64,
                     const std::string &options = "");
    // A loop device over a sparse image of size_mb, not formatted or mounted.
    std::string loop(const std::string &image, int size_mb, int sector_size = 512);
    // Bind-mounts src (file or directory) over target.
    bool bind(const std::string &src, const std::string &target);
    // A throw-away copy of the whole machine at dir, to install into and run
    // in with chroot: an overlay on "/" whose writes go to memory, with this
    // machine's /proc, /sys and /dev and an empty /tmp.
    bool overlay_root(const std::string &dir);
    // Makes every mount present now read-only in this namespace, so that a
    // program looking for writable file systems finds only those mounted
    // afterwards. A mount hidden under a newer one on the same point is
    // reached by taking the newer away. False when one stays writable.
    bool hide_host_mounts();
    // Unmounts one of this namespace's mounts early.
    bool umount(const std::string &dir);

  private:
    int home_ns = -1;
    std::vector<std::string> mounts;
    std::vector<std::string> loops;
};

// Root, and able to make mount namespaces (skips otherwise).
bool have_root(std::string *why);
