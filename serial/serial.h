// What the eight serial line programs share: the command line, speed table
// and time budget (serial.cpp), port set-up and the signal handler
// (port.cpp), capture files and the block sending and receiving
// (transfer.cpp). Each program passes its own messages and settings as data.
#pragma once
#include <cstddef>
#include <ctime>

constexpr int BLOCK = 30; // bytes of the pattern, sent and received as one block

// How a failure is reported: printed on standard output or standard error,
// or by perror, of path first when one is given, then of the text.
enum How { OUT, ERR, PERROR };
struct Msg {
    const char *text;
    How how;
    const char *path = nullptr;
};
[[noreturn]] void fail(const Msg &m); // reports, exits 1

struct Speed {
    const char *text;
    unsigned rate;
};
constexpr int ALL_SPEEDS = 14;
constexpr int LINECLOSE_SPEEDS = 11; // up to "153600"

// What a program's command line and environment are checked against.
struct Program {
    const char *optstring;        // taken from "snd:b:m:v"
    const char *usage;            // printed on standard output, exit 1
    int speeds;                   // the leading rows of the speed table it accepts
    const char *bad_speed;        // the lines for a speed it does not accept
    const char *budget = nullptr; // the time budget's variable, nullptr when none
    Msg no_budget = {};           // when that variable is absent
};

// The settings, filled once by read_options and read-only from then on: -d
// and -b; -s and -n (the flow-control pair: exactly one, either may repeat);
// -m (cut to a multiple of 95); -v; the speed that -b names; the budget's
// seconds (read as atol does, held to long's range).
struct Options {
    int mode = 0; // 's', 'n' or 0
    const char *device = nullptr, *baud = "9600";
    int limit = 0;
    bool verbose = false;
    const Speed *speed = nullptr;
    long budget = 0;
};
// Reads and checks the options, the speed and the budget, in that order; the
// first that fails reports and exits 1.
Options read_options(int argc, char **argv, const Program &p);
// Now + budget - lead, held to the range of time_t.
time_t deadline_after(long budget, long lead = 0);

// What changes during a run.
struct Run {
    int fd = -1;               // the port
    long long cnt = 0;         // bytes transferred so far
    int fdf = -1;              // lanerx's device-name file, -1 when not open
    char ibuf[BLOCK + 1] = {}; // one block, and a NUL when echoed as text
};

// What the signal handler does besides ending the program with status 0.
enum SighupAction {
    SIG_CLOSE,         // close the port
    SIG_REPORT,        // "!WARNING: killed %d", close the port
    SIG_REPORT_DEVNAM, // the same, and close the device-name file if open
    SIG_REPORT_FLUSH,  // "!WARNING: killed %d", discard both queues, close
};
// Installs the handler for SIGHUP, SIGINT and SIGTERM; returns the run state
// it acts on.
Run &install_sighup(SighupAction action);

struct Port {
    int mode; // O_RDONLY, O_WRONLY or O_RDWR
    unsigned iflag, oflag, cflag, lflag;
    Msg open_failed, get_failed, set_failed;
};
// Opens o.device into run.fd and sets its flags, speed, VMIN (VTIME 0); the
// rest of the port's parameters stay as read. Failures report and exit 1.
void setup(Run &run, const Options &o, const Port &port, unsigned char vmin = 1);

// The set-up of porttalk and portlisten, with their messages: the port opened
// with reads that return at once, emptied (up to 4 seconds, what came echoed
// on standard error after "portlisten:"), then made to wait for data; then
// the capture file opened. Returns the capture file.
struct Drained {
    Msg open_failed, get_failed, set_failed, get_again_failed, set_again_failed;
    const char *capture;
    Msg capture_failed;
};
int setup_drained(Run &run, const Options &o, const Drained &d);

// A file at a fixed name, opened with flags (O_CREAT makes it 0666): never
// through a symbolic link, and only a regular file. Anything else there fails
// at once, without waiting (a directory with EISDIR, a FIFO or a device with
// EACCES; a FIFO opened write-only with no reader with ENXIO).
int open_fixed(const char *path, int flags);
// A capture file: opened with open_fixed, appended to.
int open_capture(const char *path);
bool append(int file, const void *data, size_t n);

struct Sender {
    Msg write_failed;    // a refused write: reported, exit 1
    bool resume = false; // finish a block the port took in part
    int capture = -1;    // -1 when not capturing
    Msg capture_failed = {};
    bool report = false;          // "W<pid> <n>/<cnt>" after every write
    int limit = 0;                // above 0: "MAX", close, exit 0 once cnt reaches it
    const char *marker = nullptr; // sent after the deadline, when not nullptr
    size_t marker_len = 0;
};
// Writes the pattern block after block until the deadline; a capturing
// sender appends what the port took, "\n" after each block and one more at
// the end, before the marker.
void send_blocks(Run &run, const Sender &s, time_t deadline);

struct Receiver {
    int capture; // -1 when nothing is captured during the transfer
    Msg read_failed, capture_failed;
    bool pace = false; // sleep a second after every 110700 bytes
};
enum Ending { AT_EOF, AT_MARKER };
// Receives blocks until end of file ("EOF" printed) or the end marker (the
// data before it captured with its line end); failures report and exit 1.
Ending receive_blocks(Run &run, const Receiver &r);

// Reads one block into ibuf, a read at a time, each read's count added to
// cnt and, when verbose, printed as "R<pid> <n>". End of file prints "EOF",
// closes the port and exits 0.
void read_block(Run &run, bool verbose, const Msg &read_failed);

// Bytes per second over an interval of ns nanoseconds (0 counts as 1 ns).
long long flow_rate(long long bytes, long long ns);
