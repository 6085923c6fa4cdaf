// The base type name of the file system that holds a path (what `statvfs`
// gives as its base type on the design's platform).
//
// Linux's statvfs has no name, so this is the type of the mount-table entry
// that `filesystem_of` would find for the path: the first entry whose mount
// point has the path's device number. The network file system's versioned
// types ("nfs4") read as "nfs". Empty, with errno set, when the path cannot be
// examined or no entry holds it.
#pragma once
#include <string>

std::string fs_basetype(const char *path);
