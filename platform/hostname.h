// The machine's host name.
//
// `host_name` fills buf (size bytes, at least 1) with the host name, always
// terminated and cut to fit; an empty text when the name cannot be had.
#pragma once
#include <cstddef>

void host_name(char *buf, size_t size);
