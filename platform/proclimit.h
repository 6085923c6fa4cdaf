// The process limit.
//
// `proclimit_probe` stands for the design's permission probe of the kernel
// memory device: it tells whether this process may learn its process limit,
// by opening "/proc/self/limits" read-only. 0 on success, -1 with errno set.
// `child_max` is the number of simultaneous processes the user may run, from
// sysconf(_SC_CHILD_MAX); -1 when the limit is unlimited.
#pragma once

int proclimit_probe();
long child_max();
