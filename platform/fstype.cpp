#include "platform/fstype.h"

#include "platform/mounts.h"

#include <cerrno>
#include <sys/stat.h>

std::string fs_basetype(const char *path)
{
    struct stat st, mp;
    if (stat(path, &st) != 0) return "";
    FILE *t = mnt_open();
    if (!t) return "";
    mount_entry e;
    std::string type;
    while (mnt_next(t, &e)) {
        if (e.mnt_special.empty() || stat(e.mnt_mountp.c_str(), &mp) != 0) continue;
        if (mp.st_dev == st.st_dev) {
            type = e.mnt_fstype;
            break;
        }
    }
    mnt_close(t);
    if (type.rfind("nfs", 0) == 0 && type.size() > 3 && isdigit((unsigned char)type[3]))
        type = "nfs";
    if (type.empty()) errno = ENOENT;
    return type;
}
