// What the eight serial line programs share: the test pattern and its block,
// the command line and speed table, the time budgets, port set-up and the
// signal handler (port.cpp), capture files and the block sending and
// receiving (transfer.cpp). Each program passes its own messages and settings
// as data.
#pragma once
#include <cstddef>
#include <ctime>

constexpr int BLOCK = 30;
extern const char obuf[BLOCK + 1]; // the pattern; its terminator is never sent
extern char ibuf[BLOCK + 1];       // one block, and a NUL when echoed as text

extern int fd;        // the port, global so that the signal handler can close it
extern long long cnt; // bytes transferred so far
extern int fdf;       // lanerx's device-name file, -1 when not open

// How a failure is reported: printed on standard output or standard error, by
// perror, or by perror of the device path first and then of the text.
enum How { OUT, ERR, PERROR, PATH_PERROR };
struct Msg {
    const char *text;
    How how;
};
[[noreturn]] void fail(const Msg &m); // reports, exits 1

// The options every program reads: -d and -b; -s and -n (the flow-control
// pair: exactly one, either may repeat); -m (cut to a multiple of 95); -v.
// Only the letters in optstring are taken. An argument error, or no -d (or
// neither -s nor -n where they are taken), calls usage: usage_text on
// standard output, exit 1.
struct Options {
    int mode = 0; // 's', 'n' or 0
    const char *device = nullptr, *baud = "9600";
    int limit = 0;
    bool verbose = false;
};
Options read_options(int argc, char **argv, const char *optstring, const char *usage_text);

struct Speed {
    const char *text;
    unsigned rate;
};
extern const Speed speed_table[14];
constexpr int ALL_SPEEDS = 14;
constexpr int LINECLOSE_SPEEDS = 11; // up to "153600"

// The first of the leading `rows` rows of speed_table equal to value; a value
// that names none prints the program's two lines on standard output and
// exits 1.
const Speed &convert_speed(const char *value, int rows, const char *line1, const char *line2);

// The time budget in the environment variable (read as atol does, held to
// long's range); absent, reports and exits 1.
long budget(const char *name, const Msg &missing);
// start + seconds, held to the range of time_t.
time_t deadline_after(time_t start, long seconds);

// What the signal handler does besides ending the program with status 0.
enum SighupAction {
    SIG_CLOSE,         // close the port
    SIG_REPORT,        // "!WARNING: killed %d", close the port
    SIG_REPORT_DEVNAM, // the same, and close the device-name file if open
    SIG_REPORT_FLUSH,  // "!WARNING: killed %d", discard both queues, close
};
void install_sighup(SighupAction action);

struct Port {
    int mode; // O_RDONLY, O_WRONLY or O_RDWR
    unsigned iflag, oflag, cflag, lflag;
    Msg open_failed, get_failed, set_failed;
};
// Opens path into fd and sets its flags, speed, VMIN (VTIME 0); the rest of
// the port's parameters stay as read. Failures report and exit 1.
void setup(const char *path, const Port &port, const Speed &speed, unsigned char vmin = 1);
// Makes reads wait for at least one byte, leaving all else as read back.
void set_blocking(const Msg &get_failed, const Msg &set_failed);
// Empties the port opened with VMIN 0: reads until nothing is queued or 4
// seconds pass, echoing what came on standard error after "portlisten:".
void drain_input();

// A file at a fixed name, opened with flags (O_CREAT makes it 0666): never
// through a symbolic link, and only a regular file. Anything else there fails
// at once, without waiting (a directory with EISDIR, a FIFO or a device with
// EACCES; a FIFO opened write-only with no reader with ENXIO).
int open_fixed(const char *path, int flags);
// A capture file: opened with open_fixed, appended to.
int open_capture(const char *path);
bool append(int file, const void *data, size_t n);

struct Sender {
    int capture; // -1 when not capturing
    Msg capture_failed, write_failed;
    const char *marker;
    size_t marker_len;
};
// Sends blocks until the deadline (resuming partial writes, capturing what the
// port accepted), then the last capture line and the end marker.
void send_blocks(const Sender &s, time_t deadline);

struct Receiver {
    int capture; // -1 when nothing is captured during the transfer
    Msg read_failed, capture_failed;
    bool pace; // sleep a second after every 110700 bytes
};
enum Ending { AT_EOF, AT_MARKER };
// Receives blocks until end of file ("EOF" printed) or the end marker (the
// data before it captured with its line end); failures report and exit 1.
Ending receive_blocks(const Receiver &r);

// Reads one block into ibuf, a read at a time, each read's count added to
// cnt and, when verbose, printed as "R<pid> <n>". End of file prints "EOF",
// closes the port and exits 0.
void read_block(bool verbose, const Msg &read_failed);

// Bytes per second over an interval of ns nanoseconds (0 counts as 1 ns).
long long flow_rate(long long bytes, long long ns);
