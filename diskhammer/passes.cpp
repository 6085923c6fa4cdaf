// The test passes: one child per engine and target writes, reads back and
// compares a sequence of files (or the raw slice), and the parent times it.
#include "diskhammer/diskhammer.h"
#include "diskhammer/engine.h"
#include "platform/disk_size.h"
#include "platform/fstype.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <unistd.h>

unsigned char *wbuf, *rbuf;
static unsigned char *wbuf_start; // raw-disk mode moves wbuf along the slice
int test_fd = -1;
int locked_io, async_io;
mlist_entry *master_mp;
size_seq seq;
int raw_block = 512;

static struct tms start_time, end_time;
static clock_t start_real, end_real;
static int64_t t_real, t_utime, t_stime;

static double secs(int64_t ticks)
{
    return (double)ticks / (double)sysconf(_SC_CLK_TCK);
}

static void print_times(int64_t real, int64_t user, int64_t sys)
{
    printf("Elapsed Time : %.2f secs\n", secs(real));
    printf("User    Time : %.2f secs\n", secs(user));
    printf("System  Time : %.2f secs\n", secs(sys));
}

static const io_engine *current_engine()
{
    if (async_io) return &async_engine;
    if (locked_io) return &locked_engine;
    return &regular_engine;
}

static pass_times *engine_totals(mlist_entry *mp, int engine)
{
    switch (engine) {
    case ENGINE_LOCKED: return &mp->locked;
    case ENGINE_ASYNC: return &mp->async;
    }
    return &mp->regular;
}

static const int *engine_flags[ENGINE_COUNT] = {&R_option, &L_option, &A_option};

std::string test_dir(const mlist_entry *mp)
{
    return mp->mountp + "/fs_testdir." + std::to_string(dir_id);
}

std::string test_file(const mlist_entry *mp)
{
    return test_dir(mp) + "/test_file";
}

static const char *target_name(const mlist_entry *mp)
{
    return d_option ? mp->device.c_str() : nullptr;
}

std::string shell_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// The mount point comes from the mount table and may hold blanks or shell
// characters: quoted, only the test directory can go.
std::string cleanup_command(const mlist_entry *mp)
{
    return "rm -rf " + shell_quote(test_dir(mp));
}

void test_cleanup(mlist_entry *mp)
{
    if (d_option) return;
    std::string cmd = cleanup_command(mp);
    fflush(stdout);
    if (system(cmd.c_str()) == -1) {
        printf("!ERROR: ");
        printf("%s%s\n", cmd.c_str(), strerror(errno));
        exit(1);
    }
}

void report_error(const char *text)
{
    printf("\n!ERROR: ");
    if (errno != 0)
        printf("%s\n", strerror(errno));
    else
        printf("%s\n", text);
    exit(1);
}

// Reports of a condition rather than of a failed call: a stale errno must
// not stand in for them.
[[noreturn]] static void report_condition(const char *text)
{
    errno = 0;
    report_error(text);
}

void compare(long long len, long long offset)
{
    if (memcmp(wbuf, rbuf, (size_t)len) == 0) return;
    long long i = 0;
    while (wbuf[i] == rbuf[i]) i++;
    char msg[128];
    snprintf(msg, sizeof msg, "compare read/write: Byte %lld differs: %x to %x", offset + i,
             (unsigned)wbuf[i], (unsigned)rbuf[i]);
    report_condition(msg);
}

void intr_handler(int)
{
    time_t now = time(nullptr);
    printf("!! Stress Test Interrupted at %s!!\n", ctime(&now));
    if (master_mp) test_cleanup(master_mp);
    exit(0);
}

void time_setup()
{
    start_real = times(&start_time);
}

void time_cleanup(mlist_entry *mp, int engine)
{
    end_real = times(&end_time);
    int64_t real = end_real - start_real;
    int64_t user = end_time.tms_cutime - start_time.tms_cutime;
    int64_t sys = end_time.tms_cstime - start_time.tms_cstime;
    if (!silent) {
        printf("\n\t\t\t\tTiming Info\n\n");
        print_times(real, user, sys);
    }
    pass_times *t = engine_totals(mp, engine);
    t->real += real;
    t->user += user;
    t->sys += sys;
    if (!silent) printf("\n");
}

// Raw transfers are whole blocks of the slice: 512 bytes as designed, or
// the slice's own logical block when it is larger.
long long round_raw(long long n)
{
    long long unit = raw_block > 512 ? raw_block : 512;
    return n < unit ? unit : n / unit * unit;
}

// Sizes are 64-bit, so large ranges neither overflow nor run forever; the
// sequence ends once the size passes the maximum.
void next_sizes(size_seq *s)
{
    if (nrandom) {
        s->incr += rand() % max_filesz;
        s->transfer += rand() % max_transz;
    } else {
        s->incr *= 2;
        s->transfer *= 2;
    }
    if (s->incr == 0) s->incr = file_incr;
    if (s->transfer <= 0 || s->transfer > max_transz) s->transfer = min_transz;
    if (d_option) s->incr = round_raw(s->incr);
    s->size += s->incr;
    if (s->size > max_filesz) s->size = 0;
}

static int open_target(const mlist_entry *mp, bool for_write)
{
    if (d_option) return raw_open(mp->device.c_str(), for_write ? O_RDWR : O_RDONLY);
    // A link planted at the test file's path is not followed.
    return open(test_file(mp).c_str(), (for_write ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW,
                0666);
}

[[noreturn]] static void open_failed(const std::string &name)
{
    printf("!ERROR: ");
    printf("%s%s\n", name.c_str(), strerror(errno));
    exit(1);
}

static void fill_chunk(long long len, long long chunk)
{
    memset(wbuf, (int)((getpid() + chunk) & 0xff), (size_t)len);
}

int fs_write(mlist_entry *mp, long long *size, long long *transfer)
{
    if (seq.size == 0) {
        seq = {min_filesz, file_incr, min_transz};
        return 0;
    }
    if (seq.size == -1) seq = {min_filesz, file_incr, min_transz};
    test_fd = open_target(mp, true);
    if (test_fd < 0) open_failed(d_option ? mp->device : test_file(mp));
    if (d_option) {
        seq.size = round_raw(seq.size);
        seq.transfer = round_raw(seq.transfer);
    }
    const io_engine *eng = current_engine();
    if (!silent)
        printf("%s File Size %lld: Transfer %lld: Incr %lld\n", eng->write_label, seq.size,
               seq.transfer, seq.incr);
    void *map = nullptr;
    if (m_option) {
        // The file gets its full size first, so all of it can be mapped.
        lseek(test_fd, seq.size - 1, SEEK_SET);
        if (write(test_fd, "a", 1)) { /* a raw slice refuses the odd byte; harmless */
        }
        lseek(test_fd, 0, SEEK_SET);
        map = mmap(nullptr, (size_t)seq.size, PROT_READ | PROT_WRITE, MAP_SHARED, test_fd, 0);
        if (map == MAP_FAILED) {
            printf("%s%s\n", "!ERROR: mmap", strerror(errno));
            exit(1);
        }
    }
    long long chunk = 0;
    for (long long off = 0; off < seq.size; off += seq.transfer, chunk++) {
        long long len = seq.size - off < seq.transfer ? seq.size - off : seq.transfer;
        if (!d_option) fill_chunk(len, chunk);
        ssize_t n = eng->write(test_fd, wbuf, (size_t)len, (off_t)off);
        if (n == -1) {
            // A server that maps root to nobody refuses the superuser's first
            // write; that ends the cycle quietly. Raw slices have no type.
            if (off == 0 && getuid() == 0 && !d_option && fs_family(mp->fstype) == "nfs") return 0;
            report_error("write");
        }
        if (n != len) report_condition("write: premature EOF");
        if (d_option) wbuf += len;
    }
    if (m_option && munmap(map, (size_t)seq.size) != 0) {
        printf("%s%s\n", "!ERROR: munmap", strerror(errno));
        exit(1);
    }
    close(test_fd);
    *size = seq.size;
    *transfer = seq.transfer;
    next_sizes(&seq);
    if (d_option) wbuf = wbuf_start;
    return 1;
}

void fs_read(mlist_entry *mp, long long size, long long transfer)
{
    const io_engine *eng = current_engine();
    if (!silent) printf(eng->read_label, size);
    test_fd = open_target(mp, false);
    if (test_fd < 0) open_failed(d_option ? mp->device : test_file(mp));
    long long chunk = 0;
    for (long long off = 0; off < size; off += transfer, chunk++) {
        long long len = size - off < transfer ? size - off : transfer;
        if (!d_option) fill_chunk(len, chunk);
        ssize_t n = eng->read(test_fd, rbuf, (size_t)len, (off_t)off);
        if (n == -1) report_error("read");
        if (n != len) report_condition("read: premature EOF");
        if (!nobyte_compare) compare(len, off);
        if (d_option) wbuf += len;
    }
    close(test_fd);
    if (d_option) wbuf = wbuf_start;
}

// The test directory in a world-writable file system may have been made by
// someone else: only a real directory of our own is used.
static bool own_directory(const std::string &dir)
{
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

static void raw_preread(mlist_entry *mp)
{
    int fd = raw_open(mp->device.c_str(), O_RDONLY);
    if (fd < 0) open_failed(mp->device);
    long long want = (max_filesz + raw_block - 1) / raw_block * raw_block;
    ssize_t n = read(fd, wbuf, (size_t)want);
    if (n != want) {
        printf("%s%s\n", "!ERROR: read", strerror(errno));
        exit(1);
    }
    close(fd);
    if (!silent) {
        int nonzero = 0, zero = 0;
        for (long long i = 0; i < max_filesz; i++) (wbuf[i] ? nonzero : zero)++;
        printf("\tPre-Read Raw Disk: char %d null %d\n", nonzero, zero);
    }
}

static void raw_block_of(const char *device)
{
    int fd = open(device, O_RDONLY);
    if (fd >= 0) {
        raw_block = disk_block_size(fd);
        close(fd);
    }
}

int test_setup(mlist_entry *mp)
{
    if (mp->skip) return 0;
    long long avail;
    if (d_option) {
        avail = get_rawsize(mp->device.c_str());
        printf("Raw device %s : Avail %lld nbytes.\n", mp->device.c_str(), avail);
    } else {
        avail = get_fssize(mp->mountp.c_str());
        printf("File System: %s : Avail %lld nbytes\n", mp->mountp.c_str(), avail);
    }
    if (avail < max_filesz) {
        printf("File System too small\n");
        printf("!! SKIPPING FILESYSTEM !!\n");
        mp->skip = 1;
        return 0;
    }
    if (!d_option) {
        std::string dir = test_dir(mp);
        if (mkdir(dir.c_str(), 0777) != 0) {
            if (errno != EEXIST || !own_directory(dir)) {
                printf("%s%s\n", dir.c_str(), strerror(errno));
                if (errno == EROFS || errno == EACCES || errno == ENOSYS) {
                    printf("!! SKIPPING FILESYSTEM !!\n");
                    mp->skip = 1;
                }
                return 0;
            }
        }
    }
    if (!silent && m_option) printf("\n\tFile is Memory Mapped\n");
    printf("\n");
    if (!wbuf) {
        if (d_option) raw_block_of(mp->device.c_str());
        long long wlen = d_option ? max_filesz + raw_block : max_transz;
        long long rlen = d_option ? max_transz + raw_block : max_transz;
        wbuf = (unsigned char *)raw_alloc((size_t)wlen);
        rbuf = (unsigned char *)raw_alloc((size_t)rlen);
        wbuf_start = wbuf;
        if (!wbuf || !rbuf) {
            printf("%s%s\n", "!ERROR: malloc", strerror(errno));
            exit(1);
        }
    }
    if (d_option) raw_preread(mp);
    return 1;
}

static void child_pass(mlist_entry *mp)
{
    signal(SIGINT, intr_handler);
    long long size, transfer;
    while (fs_write(mp, &size, &transfer) == 1) fs_read(mp, size, transfer);
    exit(0);
}

static void run_engine(mlist_entry *mp, int engine)
{
    locked_io = engine == ENGINE_LOCKED;
    async_io = engine == ENGINE_ASYNC;
    fflush(stdout);
    time_setup();
    pid_t pid = fork();
    if (pid == 0) child_pass(mp);
    if (pid < 0) {
        if (errno == EAGAIN) {
            printf("%s%s\n", "Can't fork processes! PID is run out!\n", strerror(errno));
            exit(1);
        }
        if (errno == ENOMEM) {
            printf("%s%s\n", "Can't fork processes! Memory is run out!\n", strerror(errno));
            exit(1);
        }
        test_cleanup(mp);
        exit(1);
    }
    int status;
    pid_t w;
    do w = waitpid(pid, &status, 0);
    while (w < 0 && errno == EINTR);
    // A child ended by a signal did not finish its pass.
    if (w < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        test_cleanup(mp);
        exit(1);
    }
    time_cleanup(mp, engine);
}

int test_execute(mlist_entry *first)
{
    umask(0);
    for (int pass = 1; pass <= num_tests; pass++) {
        if (!silent) printf("\nStarting Test Pass %d of %d\n", pass, num_tests);
        for (mlist_entry *mp = first; mp; mp = mp->next) {
            if (!test_setup(mp)) continue;
            master_mp = mp;
            for (int engine = 0; engine < ENGINE_COUNT; engine++)
                if (*engine_flags[engine]) run_engine(mp, engine);
            test_cleanup(mp);
        }
    }
    if (silent) return 0;
    printf("\nTest Execution Completed\n\n");
    printf("\n\t\t\t\tTiming Info\n\n");
    for (mlist_entry *mp = first; mp; mp = mp->next) {
        if (mp->skip) continue;
        if (d_option)
            printf("\nRaw Disk I/O test: %s\n", target_name(mp));
        else
            printf("\nFile System: %s\n", mp->mountp.c_str());
        for (int engine = 0; engine < ENGINE_COUNT; engine++) {
            if (!*engine_flags[engine]) continue;
            pass_times *t = engine_totals(mp, engine);
            printf("%s\n", engines[engine]->name);
            print_times(t->real, t->user, t->sys);
        }
        for (int engine = 0; engine < ENGINE_COUNT; engine++) {
            pass_times *t = engine_totals(mp, engine);
            t_real += t->real;
            t_utime += t->user;
            t_stime += t->sys;
        }
    }
    printf("\nTotal\n");
    print_times(t_real, t_utime, t_stime);
    return 0;
}
