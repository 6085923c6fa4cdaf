// Helpers for the decoder tests: capture what a decoder prints, and build
// MODE SENSE answers from pages.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// Runs f with standard output going to a scratch file; returns what it printed.
std::string capture_stdout(const std::function<void()> &f);

// A MODE SENSE(6) answer: the 4-byte header (mode data length, medium type,
// device-specific byte, block-descriptor length 8), one block descriptor for
// `blocks` blocks of `block_length` bytes, then the pages as given.
Bytes mode_answer(const std::vector<Bytes> &pages, uint8_t medium = 0, uint8_t device_specific = 0,
                  uint32_t blocks = 0, uint32_t block_length = 512);

// A page: code byte, length byte (size of body), then the body bytes from
// page byte 2 on.
Bytes page(uint8_t code, const Bytes &body);

// Loads the same answer as all four copies.
void load_all(const Bytes &answer);
// Loads four copies (current, changeable, default, saved).
void load_four(const Bytes &cur, const Bytes &chg, const Bytes &def, const Bytes &sav);

// Reads a file of bytes; empty when it cannot be read.
Bytes read_bytes(const std::string &path);
