#include "tests/support/text.h"

#include "tests/support/tmpdir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <sstream>
#include <thread>

std::vector<std::string> split_lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

bool line_matches(const std::string &line, const std::string &pattern)
{
    if (pattern.find('<') == std::string::npos) return line == pattern;
    std::string re;
    for (size_t i = 0; i < pattern.size(); i++) {
        if (pattern.compare(i, 3, "<T>") == 0) {
            re += "[0-9]+\\.[0-9][0-9]";
            i += 2;
        } else if (pattern.compare(i, 3, "<N>") == 0) {
            re += "[0-9]+";
            i += 2;
        } else if (pattern.compare(i, 3, "<*>") == 0) {
            re += ".*";
            i += 2;
        } else if (pattern.compare(i, 4, "<EV>") == 0) {
            re += "([0-9]+) ([0-9]{14}) (?: {3}[0-9]| {2}[0-9]{2}| [0-9]{3}|[0-9]{4,})"
                  ":[0-5][0-9]:[0-5][0-9]: ";
            i += 3;
        } else {
            char c = pattern[i];
            if (strchr("\\^$.|?*+()[]{}", c)) re += '\\';
            re += c;
        }
    }
    std::smatch m;
    if (!std::regex_match(line, m, std::regex(re))) return false;
    if (m.size() < 3) return true;
    // An event's date is the local time of its epoch seconds.
    time_t t = std::stol(m[1]);
    char date[32];
    struct tm tm;
    strftime(date, sizeof date, "%Y%m%d%H%M%S", localtime_r(&t, &tm));
    return m[2] == date;
}

std::string match_output(const std::string &out, const std::vector<std::string> &pattern)
{
    std::vector<std::string> lines = split_lines(out);
    for (size_t i = 0; i < lines.size() || i < pattern.size(); i++) {
        if (i + 1 == pattern.size() && pattern[i] == "<...>") return ""; // any further lines
        if (i >= lines.size())
            return "output ends before line " + std::to_string(i + 1) + ": [" + pattern[i] + "]";
        if (i >= pattern.size())
            return "extra line " + std::to_string(i + 1) + ": [" + lines[i] + "]";
        if (!line_matches(lines[i], pattern[i]))
            return "line " + std::to_string(i + 1) + ": [" + lines[i] + "] does not match [" +
                   pattern[i] + "]";
    }
    return "";
}

std::string match_text(const std::string &out, const std::string &tmpl)
{
    std::vector<std::string> want = split_lines(tmpl);
    std::string why = match_output(out, want);
    bool rest = !want.empty() && want.back() == "<...>";
    if (why.empty() && !rest && ends_with(out, "\n") != ends_with(tmpl, "\n"))
        why = "a final newline differs";
    return why.empty() ? "" : why + "\n--- in:\n" + out;
}

static std::string source(const std::string &path)
{
    return std::string(SUITE_SOURCE_DIR) + "/" + path;
}

std::string fill(std::string text, const Values &values)
{
    for (auto &[name, value] : values)
        for (size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    return text;
}

std::vector<std::string> transcript(const std::string &path, const Values &values)
{
    return split_lines(fill(read_file(source(path)), values));
}

std::string match_transcript(const std::string &out, const std::string &path, const Values &values)
{
    if (getenv("WRITE_TRANSCRIPTS") && values.empty()) write_file(source(path), out);
    std::string why = match_output(out, transcript(path, values));
    return why.empty() ? "" : path + ": " + why;
}

// A transcript that cannot be read, or holds a line it should not, would
// otherwise lose its cases without a word: it ends the test program.
[[noreturn]] static void bad_transcript(const std::string &path, const std::string &why)
{
    fprintf(stderr, "transcript %s: %s\n", path.c_str(), why.c_str());
    abort();
}

std::vector<RunSpec> runs_in(const std::string &path, const Values &values)
{
    std::vector<RunSpec> runs;
    std::string name;
    if (!file_exists(source(path))) bad_transcript(path, "cannot be read");
    for (const std::string &line : transcript(path, values)) {
        if (line.empty() || line[0] == '#') continue;
        if (line.rfind("$ ", 0) != 0 && line.rfind("== ", 0) != 0 && runs.empty())
            bad_transcript(path, "a line before the first run: " + line);
        if (line.rfind("== ", 0) == 0) {
            name = line.substr(3);
        } else if (line.rfind("$ ", 0) == 0) {
            RunSpec r;
            r.line = line;
            r.name = name;
            name.clear();
            size_t arrow = line.rfind(" => ");
            if (arrow == std::string::npos)
                bad_transcript(path, "a run without its status: " + line);
            r.cmd = line.substr(2, arrow - 2);
            r.status = atoi(line.c_str() + arrow + 4);
            std::istringstream words(line.substr(2, arrow - 2));
            for (std::string w; words >> w;)
                (r.argv.empty() && contains(w, "=") ? r.env : r.argv).push_back(w == "''" ? "" : w);
            runs.push_back(r);
        } else if (line.rfind("look$ ", 0) == 0) {
            runs.back().look = line.substr(6);
        } else {
            RunSpec &r = runs.back();
            const std::pair<std::string, std::string *> streams[] = {
                {"1>", &r.out}, {"2>", &r.err}, {"log>", &r.log}, {"look>", &r.seen}};
            bool known = false;
            for (auto &[tag, to] : streams) {
                if (line.rfind(tag, 0) != 0) continue;
                bool open = ends_with(line, "\\c");
                std::string text = line.substr(std::min(tag.size() + 1, line.size()));
                *to += open ? text.substr(0, text.size() - 2) : text + "\n";
                known = true;
                break;
            }
            if (!known) bad_transcript(path, "a line of no known kind: " + line);
        }
    }
    if (runs.empty()) bad_transcript(path, "no runs");
    return runs;
}

std::string value_of(const std::vector<std::string> &env, const std::string &name,
                     const std::string &otherwise)
{
    for (const std::string &e : env)
        if (e.rfind(name + "=", 0) == 0) return e.substr(name.size() + 1);
    return otherwise;
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

int count_of(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) n++;
    return n;
}

bool ends_with(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool poll_until(double timeout_s, const std::function<bool()> &f)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (std::chrono::steady_clock::now() < end) {
        if (f()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return f();
}
