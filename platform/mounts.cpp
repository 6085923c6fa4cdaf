#include "platform/mounts.h"

#include <cstring>
#include <mntent.h>
#include <vector>

FILE *mnt_open()
{
    return setmntent("/proc/self/mounts", "r");
}

bool mnt_next(FILE *table, mount_entry *e)
{
    // A mount point may be as long as a path; options are longer still.
    static std::vector<char> buf(65536);
    struct mntent m;
    if (!getmntent_r(table, &m, buf.data(), (int)buf.size())) return false;
    e->mnt_special = m.mnt_fsname ? m.mnt_fsname : "";
    e->mnt_mountp = m.mnt_dir ? m.mnt_dir : "";
    e->mnt_fstype = m.mnt_type ? m.mnt_type : "";
    e->mnt_mntopts = m.mnt_opts ? m.mnt_opts : "";
    return true;
}

void mnt_close(FILE *table)
{
    if (table) endmntent(table);
}

bool mnt_hasopt(const mount_entry &e, const char *opt)
{
    size_t n = strlen(opt);
    const std::string &s = e.mnt_mntopts;
    size_t start = 0;
    while (start <= s.size()) {
        size_t end = s.find(',', start);
        if (end == std::string::npos) end = s.size();
        size_t len = end - start;
        if ((len == n || (len > n && s[start + n] == '=')) && s.compare(start, n, opt) == 0)
            return true;
        start = end + 1;
    }
    return false;
}
