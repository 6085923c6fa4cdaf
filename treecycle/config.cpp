// Command line, autoconfiguration of the instance count, the file systems
// under test, the work-file names and the source list.
#include "libsupport/support.h"
#include "platform/fstype.h"
#include "platform/proclimit.h"
#include "treecycle/treecycle.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace
{
// The list of sources being written; nftw's callback takes no argument.
FILE *ftw_dst;
} // namespace

// The fault options pick their single with the seeded generator, one draw
// per option in command-line order, so a command line always picks the same.
static int draw()
{
    return (int)(random() % SINGLES) + 1;
}

int parse_options(int argc, char **argv, settings &s, int *unknown)
{
    int i = 1;
    *unknown = 0;
    for (; i < argc && argv[i][0] == '-'; i++) {
        const char *o = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!strcmp(o, "-n")) {
            s.opt_commit = 0;
        } else if (!strcmp(o, "-v")) {
            opt_verbose = 1;
        } else if (!strcmp(o, "-nofsck")) {
            s.opt_fsck_any = 0;
        } else if (!strcmp(o, "-nofsck-root")) {
            s.opt_fsck_root = 0;
        } else if (!strcmp(o, "-disk-reserve")) {
            s.disk_reserve = get_cardinal_argument(o, value);
            i++;
        } else if (!strcmp(o, "-processes-per-instance")) {
            s.processes_per_instance = get_cardinal_argument(o, value);
            i++;
        } else if (!strcmp(o, "-fault-max-instances")) {
            s.fault_max_instances = get_cardinal_argument(o, value);
            i++;
        } else if (!strcmp(o, "-fault-cpio")) {
            s.fault_cpio = draw();
        } else if (!strcmp(o, "-fault-diff")) {
            s.fault_diff = draw();
        } else if (!strcmp(o, "-fault-file-add")) {
            s.fault_file_add = draw();
        } else if (!strcmp(o, "-fault-file-drop")) {
            s.fault_file_drop = draw();
        } else {
            fprintf(stderr, "!ERROR: %s: Unknown option, '%s'.\n", program_name, o);
            ++*unknown;
        }
    }
    return i;
}

char *get_directory(const std::string &cwd, const char *path)
{
    if (path[0] == '/') return estrsave(path);
    return estrsave(strprintf("%s/%s", cwd.c_str(), path).c_str());
}

// A copy of the tree per single and a tenth of that, at least 8K.
static long long space_per_instance(long long used_k)
{
    return SINGLES * used_k + std::max(SINGLES * used_k / 10, 8LL);
}

int instances_for_space(long long avail_k, long long used_k)
{
    long long n = avail_k / space_per_instance(used_k);
    if (n < 0) return 0;
    return n > INT_MAX ? INT_MAX : (int)n;
}

int instances_for_processes(long long total, int per_instance)
{
    if (total < 0 || per_instance <= 0) return -1;
    long long n = (total - 100) / per_instance;
    if (n < 0) return 0;
    return n > INT_MAX ? INT_MAX : (int)n;
}

int combine_instance_counts(int by_disk, int by_processes)
{
    return by_processes >= 0 && by_processes < by_disk ? by_processes : by_disk;
}

int autoconfig_instances_by_disk_space(const settings &s, long long *need_k, long long *free_k)
{
    long long used = du(s.src_directory);
    if (opt_verbose) eprintf("du('%s') => %lld\n", s.src_directory, used);
    long long avail = (long long)df(s.dst_directory) - s.disk_reserve;
    int n = instances_for_space(avail, used);
    if (opt_verbose) {
        eprintf("Disk space available for use by %s: %lldK\n", program_name, avail);
        eprintf("Disk space required per instance  : %lldK\n", space_per_instance(used));
        eprintf("Instances supported by disk space : %d\n", n);
    }
    if (need_k) *need_k = space_per_instance(used);
    if (free_k) *free_k = avail;
    return n;
}

int autoconfig_instances_by_processes(const settings &s)
{
    long long total = nprocs();
    int n = instances_for_processes(total, s.processes_per_instance);
    if (n < 0) return -1;
    if (opt_verbose) {
        eprintf("Total processes (v.v_proc) . . . : %lld\n", total);
        eprintf("Processes available  . . . . . . : %lld\n", total - 100);
        eprintf("Instances supported by processes : %d\n", n);
    }
    return n;
}

static const mount_entry *e_filesystem_of(const char *path)
{
    const mount_entry *e = filesystem_of(path);
    if (!e)
        trace_p("!ERROR: filesystem_of('%s') failed; NULL result.\n", path);
    else if (e->mnt_special.empty())
        trace_p("!ERROR: filesystem_of('%s') failed; mnt_special == NULL.\n", path);
    else if (e->mnt_mountp.empty())
        trace_p("!ERROR: filesystem_of('%s') failed; mnt_mountp == NULL.\n", path);
    else
        return e;
    exit(1);
}

std::string blk_to_raw(const char *name)
{
    if (!strncmp(name, "/dev/dsk/", 9)) return strprintf("/dev/rdsk/%s", name + 9);
    if (!strncmp(name, "/dev/md/dsk/", 12)) return strprintf("/dev/md/rdsk/%s", name + 12);
    trace_p("!ERROR: blk_to_raw('%s') failed.\n!ERROR:   Cannot derive raw device from block "
            "device.\n!ERROR:   Must start with '/dev/dsk/' or '/dev/md/dsk/'.\n",
            name);
    exit(1);
}

static char *mnt_to_raw(const mount_entry *entry)
{
    struct statvfs sv;
    if (statvfs(entry->mnt_mountp.c_str(), &sv) != 0) {
        trace_errno("!ERROR: statvfs('%s') failed", entry->mnt_mountp.c_str());
        exit(1);
    }
    if (fs_basetype(entry->mnt_mountp.c_str()) != "ufs") return nullptr;
    return estrsave(blk_to_raw(entry->mnt_special.c_str()).c_str());
}

void make_fs_pathnames(settings &s)
{
    // Each entry is used up before the next lookup overwrites it.
    s.root_raw_device = mnt_to_raw(e_filesystem_of("/"));
    const mount_entry *e = e_filesystem_of(s.src_directory);
    s.src_mount_point = e->mnt_mountp;
    s.src_raw_device = mnt_to_raw(e);
    e = e_filesystem_of(s.dst_directory);
    s.dst_mount_point = e->mnt_mountp;
    s.dst_raw_device = mnt_to_raw(e);
}

static const char *tmp_name(const settings &s, int pid, const char *what)
{
    return estrsave(strprintf("%s/TRC7.%d.%s", s.tmp_directory, pid, what).c_str());
}

void make_tmp_filenames(settings &s, int pid)
{
    s.log_tmp_path = tmp_name(s, pid, "log");
    s.fl_path = tmp_name(s, pid, "srcfiles");
    s.tmp_fsck_1 = tmp_name(s, pid, "fsck.1");
    s.tmp_fsck_2 = tmp_name(s, pid, "fsck.2");
    s.tmp_fsck_3 = tmp_name(s, pid, "fsck.3");
}

// Symbolic links are listed as entries of their own, so that the archiver
// copies them as links: following them would skip a link to a directory
// inside the tree (already visited) and, for one pointing outside, copy into
// what the link points at.
static int src_visit(const char *path, const struct stat *, int type, struct FTW *)
{
    if (type == FTW_F || type == FTW_D || type == FTW_SL || type == FTW_SLN) {
        if (path[0] == '.' && path[1] == '/') path += 2;
        fprintf(ftw_dst, "%s\n", path);
    }
    return 0;
}

void make_source_filename_list(const settings &s)
{
    // A fixed name in a world-writable directory: never open it through a
    // link that someone planted there.
    int fd = open(s.fl_path, O_CREAT | O_TRUNC | O_WRONLY | O_NOFOLLOW, 0666);
    if (fd < 0) {
        trace_errno("!ERROR: open('%s',O_CREAT|O_TRUNC|O_WRONLY,0666) failed", s.fl_path);
        exit(1);
    }
    ftw_dst = fdopen(fd, "w");
    if (!ftw_dst) {
        trace_errno("!ERROR: fdopen('%s') failed", s.fl_path);
        exit(1);
    }
    guard_chdir(s.start_cwd.c_str(), s.src_directory);
    int r = nftw(".", src_visit, 16, FTW_MOUNT | FTW_PHYS);
    guard_chdir(s.src_directory, s.start_cwd.c_str());
    if (r != 0) {
        trace("!ERROR: %s::make_source_filename_list: ftw('.') [cwd=%s] returned %d\n",
              program_name, s.src_directory, r);
        exit(1);
    }
    if (fflush(ftw_dst) != 0 || ferror(ftw_dst)) {
        trace_p("!ERROR: error writing to %s\n", s.fl_path);
        exit(1);
    }
    fclose(ftw_dst);
    ftw_dst = nullptr;
}
