// Text helpers for comparing a program's output with what a test expects.
#pragma once
#include <functional>
#include <string>
#include <vector>

// Splits into lines (no trailing empty line for a final newline).
std::vector<std::string> split_lines(const std::string &text);

// A template line matches when it is equal after its tokens are expanded:
// <T> a time ("0.01"), <N> a number, <*> anything.
bool line_matches(const std::string &line, const std::string &pattern);
// Empty when every line of out matches its template line, else a description
// of the first mismatch.
std::string match_output(const std::string &out, const std::vector<std::string> &pattern);

bool contains(const std::string &text, const std::string &part);
int count_of(const std::string &text, const std::string &part);
bool ends_with(const std::string &text, const std::string &tail);

// Calls f every 10 ms until it holds; false when timeout_s passes first.
bool poll_until(double timeout_s, const std::function<bool()> &f);
