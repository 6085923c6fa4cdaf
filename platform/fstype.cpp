#include "platform/fstype.h"

#include <cerrno>
#include <sys/stat.h>

int mnt_holding(dev_t dev, mount_entry *entry)
{
    FILE *t = mnt_open();
    if (!t) return -1;
    struct stat mp;
    int found = 0;
    while (!found && mnt_next(t, entry))
        found = !entry->mnt_special.empty() && stat(entry->mnt_mountp.c_str(), &mp) == 0 &&
                mp.st_dev == dev;
    mnt_close(t);
    return found;
}

std::string fs_family(const std::string &type)
{
    if (type.rfind("nfs", 0) == 0 && type.find_first_not_of("0123456789", 3) == std::string::npos)
        return "nfs";
    return type;
}

std::string fs_basetype(const char *path)
{
    struct stat st;
    mount_entry e;
    if (stat(path, &st) != 0) return "";
    int r = mnt_holding(st.st_dev, &e);
    if (r == 0) errno = ENOENT;
    return r > 0 ? fs_family(e.mnt_fstype) : "";
}
