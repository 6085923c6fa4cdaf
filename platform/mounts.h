// The mount table.
//
// The programs read the table of mounted file systems in its own order, one
// entry at a time, and rely on: the device (`mnt_special`, empty when the
// table names none), the mount point (`mnt_mountp`), the type (`mnt_fstype`)
// and the option list (`mnt_mntopts`). On Linux the table is
// "/proc/self/mounts"; blanks and other characters that the kernel escapes in
// it come back decoded. There is no mount time.
#pragma once
#include <cstdio>
#include <string>

struct mount_entry {
    std::string mnt_special;
    std::string mnt_mountp;
    std::string mnt_fstype;
    std::string mnt_mntopts;
};

// Opens the table for reading; nullptr with errno set on failure.
FILE *mnt_open();
// Reads the next entry; false at the end of the table.
bool mnt_next(FILE *table, mount_entry *entry);
void mnt_close(FILE *table);
// True when opt is one whole member of the entry's comma-separated option
// list ("ro" matches "rw,ro" but not "errors=remount-ro"); an option given
// with a value ("size=1g") matches "size".
bool mnt_hasopt(const mount_entry &entry, const char *opt);
