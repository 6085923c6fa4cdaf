#include "tests/support/transcript.h"

#include "tests/support/text.h"
#include "tests/support/tmpdir.h"

#include <cstdlib>

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
    std::string why = match_output(out, transcript(path, values));
    return why.empty() ? "" : path + ": " + why;
}

std::string same_as_file(const std::string &text, const std::string &path)
{
    if (getenv("WRITE_TRANSCRIPTS")) write_file(source(path), text);
    std::string want = read_file(source(path));
    if (text == want) return "";
    std::vector<std::string> a = split_lines(text), b = split_lines(want);
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) i++;
    return path + " line " + std::to_string(i + 1) + ": got [" + (i < a.size() ? a[i] : "<end>") +
           "], want [" + (i < b.size() ? b[i] : "<end>") + "]";
}
