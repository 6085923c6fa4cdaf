// volaudit: checks the file system that holds a path with the system's
// checker in no-write mode, and judges its report.
#include "fscheck/fscheck.h"
#include "libsupport/support.h"
#include "platform/outcheck.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

int main(int argc, char **argv)
{
    check_output_at_exit("volaudit");
    program_path = argv[0];
    program_name = sname(program_path);
    if (argc < 2) {
        fprintf(stderr, "Expecting at least one argument.\n");
        fprintf(stderr, "Usage: volaudit  <filesystem>  [ <output-file> ]\n");
        return 1;
    }
    const char *path = argv[1];
    const char *output_file = argc > 2 ? argv[2] : "fsck.out";
    // The report is written to the output file and read back: a device there
    // reads without end (/dev/zero), a FIFO blocks, a link is not followed.
    struct stat st;
    if (lstat(output_file, &st) == 0 && !S_ISREG(st.st_mode)) {
        fprintf(stderr, "!ERROR: %s: %s is not a regular file.\n", program_name, output_file);
        return 1;
    }

    const mount_entry *m = filesystem_of(path);
    if (!m || m->mnt_special.empty()) return 1;
    long k = df(path);
    fprintf(stderr, "df('%s') [ %s mounted on %s ] => %ld kbytes.\n", path, m->mnt_special.c_str(),
            m->mnt_mountp.c_str(), k);

    std::string raw = m->mnt_special;
    if (raw.compare(0, 9, "/dev/dsk/") == 0) raw = "/dev/rdsk/" + raw.substr(9);
    std::string mountp = m->mnt_mountp;
    fprintf(stderr, "check_fs('%s','%s','%s')\n", raw.c_str(), mountp.c_str(), output_file);
    return check_fs(raw.c_str(), mountp.c_str(), output_file) ? 0 : 1;
}
