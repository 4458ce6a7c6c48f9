// Reads a text file as the device's programs always have: line by line, a
// line longer than the caller's buffer coming back in several pieces. Unlike
// fgets it reports how many bytes a piece holds, so a zero byte inside a
// line is data, not an end.
//
// The pieces after the first of a long line are never lines of their own:
// goes_on() tells a reader that the next piece continues the line, so a
// value can neither end the text early nor smuggle in a setting.
#pragma once

#include <cstring>
#include <span>
#include <string_view>

// Whether the line of `piece`, read with room for `room` bytes, goes on in
// the next piece: the piece filled the room without reaching a newline,
// and holds no zero byte (which ends its line's text).
inline bool piece_goes_on(std::string_view piece, size_t room)
{
    return piece.size() == room && room > 0 && piece.back() != '\n' &&
           std::memchr(piece.data(), '\0', piece.size()) == nullptr;
}
#include <sys/types.h>

class piece_reader {
    int fd_;
    char buf_[4096];
    size_t pos_ = 0, end_ = 0;
    int error_ = 0;
    bool goes_on_ = false;

    bool fill();

public:
    explicit piece_reader(int fd) : fd_(fd) {}
    piece_reader(const piece_reader &) = delete;
    piece_reader &operator=(const piece_reader &) = delete;

    // Copies the next piece into `out`: at most out.size() - 1 bytes, ending
    // after a newline when one comes first, then a terminating zero. Returns
    // the byte count, 0 at the end of the input or after a read error.
    size_t next(std::span<char> out);
    // The failed read's -errno, kept when it happens (errno is anyone's
    // by the time a caller looks), or 0.
    int error() const { return error_; }
    bool failed() const { return error_ != 0; }
    // True when the last piece filled `out` without reaching its line's
    // newline: the next piece belongs to the same line. A piece holding a
    // zero byte ends its line's text there, so it never goes on.
    bool goes_on() const { return goes_on_; }
};
