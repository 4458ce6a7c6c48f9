// Splits a fuzzer's input into a few short arguments and a file text, and
// keeps a scratch directory for the files the functions under test read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct fuzz_input {
    std::string_view rest;

    fuzz_input(const uint8_t *data, size_t size)
        : rest(reinterpret_cast<const char *>(data), size) {}

    // The next argument: the bytes up to a zero byte (at most `max`).
    std::string arg(size_t max = 64)
    {
        size_t n = rest.find('\0');
        if (n == rest.npos || n > max)
            n = rest.size() < max ? rest.size() : max;
        std::string a(rest.substr(0, n));
        rest.remove_prefix(n < rest.size() ? n + 1 : n);
        return a;
    }
};

// A file in the fuzzers' scratch directory holding exactly `bytes`.
std::string fuzz_file(const char *name, std::string_view bytes);
// The bytes of a file, or "<missing>".
std::string fuzz_read(const std::string &path);
