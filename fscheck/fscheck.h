// The file-system check: runs the system's checker in no-write mode on a raw
// device with its output captured in a file, and judges that output against
// the report a healthy mounted file system gives.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

// 1 when the checker ran normally and its report fits the rules, else 0.
int check_fs(const char *device, const char *mount_point, const char *output_file);

// The rule table: each rule is a marker ("=" exact line, "?" awaited line)
// and a text, or the whole text "&files" for the summary line.
extern std::vector<std::string> expect;
void init_expect(const char *device, const char *mount_point, int exit_code);
// 1 when the report on stream fits the rules, else 0 after a report on
// standard error; a rule with another marker ends the process.
int filter_stream(FILE *stream, const char *device, const char *mount_point);
