// Which mounted file system holds a path, and its base type name (what
// `statvfs` gives as its base type on the design's platform).
//
// Linux's statvfs has no name. The file system that holds a path is the
// first mount-table entry with a device whose mount point has the path's
// device number; its type is the base type, except that the network file
// system's versioned types ("nfs4") read as "nfs".
#pragma once
#include "platform/mounts.h"

#include <string>
#include <sys/types.h>

// The first entry with a device whose mount point is on device dev: 1 and
// *entry filled when found, 0 when no entry holds it, -1 with errno set when
// the table cannot be read.
int mnt_holding(dev_t dev, mount_entry *entry);
// A type name with the network file system's versions folded: "nfs4" and
// "nfs3" read as "nfs"; any other name ("nfsd" too) as it is.
std::string fs_family(const std::string &type);
// The base type of the file system that holds path; empty, with errno set,
// when the path cannot be examined or no entry holds it.
std::string fs_basetype(const char *path);
