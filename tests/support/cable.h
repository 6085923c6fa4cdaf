// A virtual null-modem cable for the serial line tests: two pseudo-terminals
// joined by socat, each end a terminal device with real termios behaviour.
//
// DATA stays up when an end closes (ignoreeof): a transmitter that ends loses
// nothing still in the cable. HANGUP drops the line at the last close of
// either end, as ports with HUPCL do (-t 0): the other end's writes fail from
// then on. A dropped pseudo-terminal line discards the other end's unread
// input, hence the two kinds.
//
// The cable holds each end open itself (fd_a, fd_b) until let go, so that
// socat is carrying data before the programs start and a program's own close
// is the last only once the cable has let go of that end. A test can write
// and read through these holds as the peer.
//
// Two facts of pseudo-terminals a test must respect: waiting for queued output
// returns at once, so a flush right after it can discard what the cable has
// not yet carried; and a transmitter stalls when nobody reads the far end.
// Receivers therefore get a time limit (wait_for), and sink() reads a far end
// nobody else reads.
#pragma once
#include "tests/support/mountns.h"
#include "tests/support/text.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <vector>

struct Cable {
    enum Kind { DATA, HANGUP };
    explicit Cable(Kind kind, const std::string &dir = "/tmp");
    ~Cable();
    Cable(const Cable &) = delete;
    Cable &operator=(const Cable &) = delete;

    bool ok() const { return error.empty(); }
    std::string error;
    std::string a, b;         // the ends' device paths (links to /dev/pts/N)
    int fd_a = -1, fd_b = -1; // the cable's hold on each end, read and write

    void let_go(int &end); // closes a hold
    // Hangs an end up as a lost carrier does a serial port's: every open file
    // of it reads end of file and fails to write from then on. (A closing end
    // of a HANGUP cable makes a read on the other end that is waiting at that
    // moment fail instead, a pseudo-terminal's way.)
    bool hang_up(const std::string &end);
    // After a program's close of one end of a HANGUP cable, the other end
    // (other) hangs up within a second. socat does it, except when the close
    // meets it writing towards that end: a pty's close wakes such a writer
    // before the end counts as closed, and socat then waits in the write for
    // ever. The cable hangs the other end up itself then.
    void follow_close(const std::string &other);
    void sink(int end); // a child reads and discards from it until the cable goes
    // Pulls the cable mid-transfer: socat is killed, so both ends hang up.
    void pull();
    bool put(int end, const std::string &data); // writes all of data to an end

  private:
    pid_t socat = -1;
    std::vector<pid_t> sinks;
};

// The test pattern as the serial programs must send it, block by block.
const std::string PATTERN = "QwErHMZa@nYBTc$%n4nUal80J&*k5l";
// n copies of text.
std::string repeat(const std::string &text, size_t n);
// The pattern lines before the one empty line that ends a capture file of a
// whole transfer; -1 for a capture of any other shape.
long blocks_in(const std::string &capture);

// The runs of a transcript of tests/serial/transcripts, its names filled:
// <A> and <B> the cable's ends, <P> the pattern, <NUL> a NUL byte.
std::vector<RunSpec> cable_runs(const std::string &name);
// Starts the built program of a transcript's run (its first word) with
// standard output and error in /tmp/TAG.out and /tmp/TAG.err. Of the run's
// NAME=value words those whose NAME begins in lower case are the test's own
// (words), the others the program's environment, from which RUNTIME and
// RUNPRD are first taken out. in_child runs in the child just before exec.
pid_t launch(const RunSpec &run, const std::string &tag = "p",
             const std::function<void()> &in_child = {});
// The values of the test's own word name in a run, in their order.
std::vector<std::string> words(const RunSpec &run, const std::string &name);
// The last of them, or otherwise.
std::string word(const RunSpec &run, const std::string &name, const std::string &otherwise = "");
// Expects what the program of run, started by launch as pid with tag, wrote:
// its standard output without its R and W lines, and its standard error, as
// the run gives them; look$ showing look>. Its R and W lines carry pid, and
// each W line's count is the last one's and its bytes. A count it reports
// when killed is that of its R lines, or its last W line's, or whole blocks.
// The words read=N (N+: at least N) and written=N are the bytes of its R
// lines and the count of its last W line.
void expect_output(const RunSpec &run, const std::string &tag, pid_t pid);
// A test in a private mount namespace with a fresh tmpfs on /tmp, so that the
// programs' fixed names there meet no other test's and the machine's /tmp is
// untouched. Without socat it skips.
class PrivateTmpTest : public testing::Test
{
  protected:
    MountNs ns;
    void SetUp() override;

    // One run on a fresh cable, its program on end A, in the steps its words
    // ask for: plant= what it finds at its file (link, full, fifo, dir, node) or
    // where it runs (background); feed= what the far end sends once it has the
    // port open, 0.3 s apart; port= the settings it gives the port; then= what
    // comes once it is held up on its port (signals, gap= microseconds apart, or
    // the port's hang-up), or a second after it started (the cable pulled, its
    // far end read meanwhile); within= the seconds it has to end then;
    // blocks=part: its file holds whole pattern lines, then part of one.
    void play(const RunSpec &run);
    // Each run of a transcript in turn.
    void play_all(const std::string &transcript);
    // The transcript's runs in pairs: a receiver on end A, started first and
    // waiting in its read before the transmitter on end B starts. Once the
    // receiver has ended, the cable's end A is read, so that a transmitter
    // still sending can end. blocks= on the transmitter: how many pattern
    // lines its capture file holds (some, 0, or none for no file), which the
    // receiver's capture repeats. cable=hangup on the receiver: a cable that
    // drops the line at the last close of an end, which the cable lets the
    // programs make; the receiver's close fails the transmitter's next write,
    // or, when the transmitter ends first (status 0), a line drop ends the
    // receiver.
    void play_pairs(const std::string &transcript);
};
