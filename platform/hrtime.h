// The high-resolution clock: `gethrtime` gives nanoseconds of a monotonic
// clock (one that never goes back, whatever happens to the time of day).
#pragma once

long long gethrtime();
