// Volume manager: which device paths it manages and under what name.
// mediaquery relies on volmgt_inuse giving non-zero only for a path the
// volume manager manages, and volmgt_symname giving that device's symbolic
// name, or null when it has none. Linux has no such volume manager: every
// path reads as not in use.
#pragma once

int volmgt_inuse(const char *path);
const char *volmgt_symname(const char *path);
