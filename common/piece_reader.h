// Reads a text file as the device's programs always have: line by line, a
// line longer than the caller's buffer coming back in several pieces, each
// handled as a line of its own. Unlike fgets it reports how many bytes a
// piece holds, so a zero byte inside a line is data, not an end.
#pragma once

#include <span>
#include <sys/types.h>

class piece_reader {
    int fd_;
    char buf_[4096];
    size_t pos_ = 0, end_ = 0;
    bool failed_ = false;

    bool fill();

public:
    explicit piece_reader(int fd) : fd_(fd) {}
    piece_reader(const piece_reader &) = delete;
    piece_reader &operator=(const piece_reader &) = delete;

    // Copies the next piece into `out`: at most out.size() - 1 bytes, ending
    // after a newline when one comes first, then a terminating zero. Returns
    // the byte count, 0 at the end of the input or after a read error.
    size_t next(std::span<char> out);
    bool failed() const { return failed_; }
};
