// Saved transcripts: the whole output a test expects, kept in a file in the
// source tree, with <T>, <N> and <*> where the output varies (text.h) and
// names of the test's own (<MNT>, <DEV>) that the test fills in.
#pragma once
#include <string>
#include <utility>
#include <vector>

using Values = std::vector<std::pair<std::string, std::string>>;

// text with each name of values replaced by its value.
std::string fill(std::string text, const Values &values);
// The lines of the transcript at path (relative to the source tree), each
// name of values replaced by its value.
std::vector<std::string> transcript(const std::string &path, const Values &values = {});
// Empty when out matches the transcript line by line (match_output), else
// where they part.
std::string match_transcript(const std::string &out, const std::string &path,
                             const Values &values = {});
// Empty when text is byte for byte the file at path (relative to the source
// tree), else the first line where they part. With WRITE_TRANSCRIPTS set in
// the environment the file is written from text instead, to make it again
// after a change that a reviewer then reads in the diff.
std::string same_as_file(const std::string &text, const std::string &path);
