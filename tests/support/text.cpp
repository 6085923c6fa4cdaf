#include "tests/support/text.h"

#include "tests/support/tmpdir.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
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
        } else {
            char c = pattern[i];
            if (strchr("\\^$.|?*+()[]{}", c)) re += '\\';
            re += c;
        }
    }
    return std::regex_match(line, std::regex(re));
}

std::string match_output(const std::string &out, const std::vector<std::string> &pattern)
{
    std::vector<std::string> lines = split_lines(out);
    for (size_t i = 0; i < lines.size() || i < pattern.size(); i++) {
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

std::vector<RunSpec> runs_in(const std::string &path, const Values &values)
{
    std::vector<RunSpec> runs;
    for (const std::string &line : transcript(path, values)) {
        if (line.rfind("$ ", 0) == 0) {
            RunSpec r;
            r.line = line;
            size_t arrow = line.rfind(" => ");
            r.status = atoi(line.c_str() + arrow + 4);
            std::istringstream words(line.substr(2, arrow - 2));
            for (std::string w; words >> w;)
                (r.argv.empty() && contains(w, "=") ? r.env : r.argv).push_back(w == "''" ? "" : w);
            runs.push_back(r);
        } else if (!runs.empty() && (line.rfind("1>", 0) == 0 || line.rfind("2>", 0) == 0)) {
            bool open = ends_with(line, "\\c");
            std::string text = line.substr(std::min<size_t>(3, line.size()));
            (line[0] == '1' ? runs.back().out : runs.back().err) +=
                open ? text.substr(0, text.size() - 2) : text + "\n";
        }
    }
    return runs;
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
