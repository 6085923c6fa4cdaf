// Comparing a program's output with what a test expects: line by line
// against template lines, written in the test or kept as a saved transcript
// in the source tree. A template line matches when it is equal after its
// tokens are expanded: <T> a time ("0.01"), <N> a number, <*> anything,
// <EV> the head of an event line ("EPOCH YYYYMMDDhhmmss hhhh:mm:ss: ", its date
// the local time of its epoch seconds); a last template line <...> stands for
// any further lines. A transcript may also hold names of the test's own
// (<MNT>, <DEV>) that the test fills in.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Splits into lines (no trailing empty line for a final newline).
std::vector<std::string> split_lines(const std::string &text);

bool line_matches(const std::string &line, const std::string &pattern);
// Empty when every line of out matches its template line, else a description
// of the first mismatch.
std::string match_output(const std::string &out, const std::vector<std::string> &pattern);
// match_output of out against the lines of tmpl, which must also agree on a
// final newline (unless it ends in <...>); on a mismatch out follows.
std::string match_text(const std::string &out, const std::string &tmpl);

using Values = std::vector<std::pair<std::string, std::string>>;
// text with each name of values replaced by its value.
std::string fill(std::string text, const Values &values);
// The lines of the transcript at path (relative to the source tree), each
// name of values replaced by its value.
std::vector<std::string> transcript(const std::string &path, const Values &values = {});
// match_output against the transcript at path. With WRITE_TRANSCRIPTS set in
// the environment a transcript that has no names to fill is written from out
// instead, to make it again after a change that a reviewer then reads in the
// diff.
std::string match_transcript(const std::string &out, const std::string &path,
                             const Values &values = {});

// A transcript of whole runs, for tables of command lines. A run begins with
// "$ [NAME=value ...] PROGRAM [ARG ...] => STATUS" ('' is an empty word); its
// lines of standard output follow as "1> TEXT", of standard error as
// "2> TEXT", where a TEXT that ends in \c has no line end. "#" lines are notes.
// For runs of a shell command line with a run log of their own: "== NAME"
// names the next run; its log's lines follow as "log> TEXT", a command to
// look at what the run left as "look$ COMMAND", what that shows as "look> TEXT".
struct RunSpec {
    std::string line;      // the "$" line, to name the run
    std::string name, cmd; // cmd: the "$" line's text before " => "
    std::vector<std::string> env, argv;
    int status = 0;
    std::string out, err, log, look, seen;
};
// A transcript that is missing, holds no run, or holds a line of no kind
// above ends the test program with the reason (a lost case must not pass).
std::vector<RunSpec> runs_in(const std::string &path, const Values &values = {});
// The value of the "NAME=value" entry of env, or otherwise when there is none.
std::string value_of(const std::vector<std::string> &env, const std::string &name,
                     const std::string &otherwise = "");

bool contains(const std::string &text, const std::string &part);
int count_of(const std::string &text, const std::string &part);
bool ends_with(const std::string &text, const std::string &tail);

// Calls f every 10 ms until it holds; false when timeout_s passes first.
bool poll_until(double timeout_s, const std::function<bool()> &f);
