// The cycles of a pass's child: each writes a file of the next size (or the
// raw slice) in chunks through the engine, reads it back and compares it.
#include "diskhammer/diskhammer.h"
#include "platform/disk_size.h"
#include "platform/fstype.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

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

[[noreturn]] static void open_failed(const std::string &name)
{
    printf("!ERROR: ");
    printf("%s%s\n", name.c_str(), strerror(errno));
    exit(1);
}

static void report_mismatch(long long at, unsigned char expect, unsigned char got)
{
    char msg[128];
    snprintf(msg, sizeof msg, "compare read/write: Byte %lld differs: %x to %x", at,
             (unsigned)expect, (unsigned)got);
    report_condition(msg);
}

void compare(const RunState &run, long long len, long long offset)
{
    if (memcmp(run.wbuf, run.rbuf, (size_t)len) == 0) return;
    long long i = 0;
    while (run.wbuf[i] == run.rbuf[i]) i++;
    report_mismatch(offset + i, run.wbuf[i], run.rbuf[i]);
}

// A file's chunk is one byte value throughout (fill_chunk), so it is checked
// in place: the first byte against the value, the rest against the chunk
// shifted by one. The expected chunk is never built.
void compare_fill(const RunState &run, long long len, long long offset, unsigned char expect)
{
    const unsigned char *rbuf = run.rbuf;
    if (rbuf[0] == expect && memcmp(rbuf, rbuf + 1, (size_t)len - 1) == 0) return;
    long long i = 0;
    while (rbuf[i] == expect) i++;
    report_mismatch(offset + i, expect, rbuf[i]);
}

// Raw transfers are whole blocks of the slice: 512 bytes as designed, or
// the slice's own logical block when it is larger.
static long long round_raw(const RunState &run, long long n)
{
    long long unit = run.raw_block > 512 ? run.raw_block : 512;
    return n < unit ? unit : n / unit * unit;
}

// Sizes are 64-bit, so large ranges neither overflow nor run forever; the
// sequence ends once the size passes the maximum.
void next_sizes(const Settings &set, RunState *run)
{
    size_seq *s = &run->seq;
    if (set.nrandom) {
        s->incr += rand() % set.max_filesz;
        s->transfer += rand() % set.max_transz;
    } else {
        s->incr *= 2;
        s->transfer *= 2;
    }
    if (s->incr == 0) s->incr = set.file_incr;
    if (s->transfer <= 0 || s->transfer > set.max_transz) s->transfer = set.min_transz;
    if (set.d_option) s->incr = round_raw(*run, s->incr);
    s->size += s->incr;
    if (s->size > set.max_filesz) s->size = 0;
}

static void raw_preread(const Settings &set, const RunState &run, const mlist_entry *mp)
{
    int fd = raw_open(mp->device.c_str(), O_RDONLY);
    if (fd < 0) open_failed(mp->device);
    long long want = (set.max_filesz + run.raw_block - 1) / run.raw_block * run.raw_block;
    ssize_t n = read(fd, run.wbuf, (size_t)want);
    if (n != want) {
        printf("%s%s\n", "!ERROR: read", strerror(errno));
        exit(1);
    }
    close(fd);
    if (!set.silent) {
        int nonzero = 0, zero = 0;
        for (long long i = 0; i < set.max_filesz; i++) (run.wbuf[i] ? nonzero : zero)++;
        printf("\tPre-Read Raw Disk: char %d null %d\n", nonzero, zero);
    }
}

void io_setup(const Settings &set, RunState *run, const mlist_entry *mp)
{
    if (!run->wbuf) {
        if (set.d_option) {
            int fd = open(mp->device.c_str(), O_RDONLY);
            if (fd >= 0) {
                run->raw_block = disk_block_size(fd);
                close(fd);
            }
        }
        // Raw reads are whole blocks, which may run past the sizes asked for.
        long long wlen = set.d_option ? set.max_filesz + run->raw_block : set.max_transz;
        long long rlen = set.d_option ? set.max_transz + run->raw_block : set.max_transz;
        run->wbuf = (unsigned char *)raw_alloc((size_t)wlen);
        run->rbuf = (unsigned char *)raw_alloc((size_t)rlen);
        if (!run->wbuf || !run->rbuf) {
            printf("%s%s\n", "!ERROR: malloc", strerror(errno));
            exit(1);
        }
    }
    if (set.d_option) raw_preread(set, *run, mp);
}

static std::string test_file(const Settings &set, const mlist_entry *mp)
{
    return test_dir(set, mp) + "/test_file";
}

static int open_target(const Settings &set, const mlist_entry *mp, bool for_write)
{
    if (set.d_option) return raw_open(mp->device.c_str(), for_write ? O_RDWR : O_RDONLY);
    // A link planted at the test file's path is not followed.
    return open(test_file(set, mp).c_str(), (for_write ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW,
                0666);
}

static unsigned char chunk_byte(long long chunk)
{
    return (unsigned char)((getpid() + chunk) & 0xff);
}

static void fill_chunk(RunState *run, long long len, long long chunk)
{
    memset(run->wbuf, chunk_byte(chunk), (size_t)len);
}

// In raw-disk mode wbuf moves along the slice's pre-read data, chunk by
// chunk, and is put back at its start after each file.
int fs_write(const Settings &set, RunState *run, const mlist_entry *mp, const io_engine *eng,
             long long *size, long long *transfer)
{
    size_seq &seq = run->seq;
    if (seq.size == 0) {
        seq = {set.min_filesz, set.file_incr, set.min_transz};
        return 0;
    }
    if (seq.size == -1) seq = {set.min_filesz, set.file_incr, set.min_transz};
    int test_fd = open_target(set, mp, true);
    if (test_fd < 0) open_failed(set.d_option ? mp->device : test_file(set, mp));
    if (set.d_option) {
        seq.size = round_raw(*run, seq.size);
        seq.transfer = round_raw(*run, seq.transfer);
    }
    if (!set.silent)
        printf("%s File Size %lld: Transfer %lld: Incr %lld\n", eng->write_label, seq.size,
               seq.transfer, seq.incr);
    void *map = nullptr;
    if (set.m_option) {
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
    unsigned char *const start = run->wbuf;
    long long chunk = 0;
    for (long long off = 0; off < seq.size; off += seq.transfer, chunk++) {
        long long len = seq.size - off < seq.transfer ? seq.size - off : seq.transfer;
        if (!set.d_option) fill_chunk(run, len, chunk);
        ssize_t n = eng->write(test_fd, run->wbuf, (size_t)len, (off_t)off);
        if (n == -1) {
            // A server that maps root to nobody refuses the superuser's first
            // write; that ends the cycle quietly. Raw slices have no type.
            if (off == 0 && getuid() == 0 && !set.d_option && fs_family(mp->fstype) == "nfs")
                return 0;
            report_error("write");
        }
        if (n != len) report_condition("write: premature EOF");
        if (set.d_option) run->wbuf += len;
    }
    if (set.m_option && munmap(map, (size_t)seq.size) != 0) {
        printf("%s%s\n", "!ERROR: munmap", strerror(errno));
        exit(1);
    }
    // The file must reach the device: a device that fails under a file system
    // would otherwise go unseen, the data read back from memory.
    if (!set.d_option && fsync(test_fd) != 0) report_error("fsync");
    close(test_fd);
    *size = seq.size;
    *transfer = seq.transfer;
    next_sizes(set, run);
    run->wbuf = start;
    return 1;
}

void fs_read(const Settings &set, RunState *run, const mlist_entry *mp, const io_engine *eng,
             long long size, long long transfer)
{
    if (!set.silent) printf(eng->read_label, size);
    int test_fd = open_target(set, mp, false);
    if (test_fd < 0) open_failed(set.d_option ? mp->device : test_file(set, mp));
    unsigned char *const start = run->wbuf;
    long long chunk = 0;
    for (long long off = 0; off < size; off += transfer, chunk++) {
        long long len = size - off < transfer ? size - off : transfer;
        ssize_t n = eng->read(test_fd, run->rbuf, (size_t)len, (off_t)off);
        if (n == -1) report_error("read");
        if (n != len) report_condition("read: premature EOF");
        if (!set.nobyte_compare) {
            if (set.d_option)
                compare(*run, len, off);
            else
                compare_fill(*run, len, off, chunk_byte(chunk));
        }
        if (set.d_option) run->wbuf += len;
    }
    close(test_fd);
    run->wbuf = start;
}
