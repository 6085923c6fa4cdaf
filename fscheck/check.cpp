// Runs the file-system checker in no-write mode with its output captured in a
// file, then judges that file.
#include "fscheck/fscheck.h"

#include "libsupport/support.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

static const char fsck_path[] = "/usr/sbin/fsck";

// 0 when the checker could not be run or ended abnormally, 1 for exit status 0,
// 36 for exit status 36.
static int run_fsck(const char *device, const char *output_file)
{
    // The output files have guessable names in shared directories: a planted
    // symbolic link there must not redirect the checker's report.
    int fd = open(output_file, O_CREAT | O_TRUNC | O_WRONLY | O_NOFOLLOW, 0666);
    if (fd < 0) {
        trace_errno("open('%s',O_CREAT|O_TRUNC,O_WRONLY,0666) failed", output_file);
        return 0;
    }
    if (close(fd) != 0) {
        trace_errno("close('%s') failed", output_file);
        return 0;
    }
    fflush(stderr);
    fflush(stdout);
    pid_t pid = ft_fork();
    if (pid < 0) {
        trace_errno("could not run fsck; fork() failed");
        return 0;
    }
    if (pid == 0) {
        output_to_file(output_file, 0, "open('%s',O_CREAT|O_WRONLY,0666) failed", 127, 3);
        sync();
        char *const argv[] = {(char *)fsck_path, (char *)"-n", (char *)device, nullptr};
        execv(fsck_path, argv);
        trace_errno("execv('%s',...) failed", fsck_path);
        _exit(127);
    }
    // Wait for this checker only: another child's status must not pass for its own.
    int status;
    if (wait_child(pid, &status) < 0) {
        trace_errno("could not run fsck; wait() failed");
        return 0;
    }
    wait_parts w = decode_status(status);
    if (w.signal == 0 && w.exit == 36) return 36;
    if (status == 0) return 1;
    trace_p("fsck failed; status = {signal=%d, exit=%d}\n", w.signal, w.exit);
    return 0;
}

int check_fs(const char *device, const char *mount_point, const char *output_file)
{
    int r = run_fsck(device, output_file);
    if (r == 0) return 0;
    init_expect(device, mount_point, r);
    int fd = open(output_file, O_RDONLY, 0666);
    if (fd < 0) {
        trace_errno("open('%s',O_RDONLY,0666) failed", output_file);
        return 0;
    }
    FILE *f = fdopen(fd, "r");
    if (!f) {
        trace_errno("open('%s',O_RDONLY,0666) failed", output_file);
        close(fd);
        return 0;
    }
    int result = filter_stream(f, device, mount_point);
    if (fclose(f) != 0) {
        trace_p("fclose('%s') failed.\n", output_file);
        return 0;
    }
    return result > 0 ? 1 : 0;
}
