#include "tests/support/text.h"

#include "tests/support/tmpdir.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <regex>
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
