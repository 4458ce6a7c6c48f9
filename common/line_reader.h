// Whole lines of the device's text files, however long, as every program
// reads them. They are read in pieces of `line_piece_max` bytes; the pieces
// after a line's first never make lines of their own, so a long value can
// neither end a text early nor smuggle in a setting.
//
// A zero byte ends a line's text. A piece that holds one also ends its line
// (piece_goes_on): the device's C readers judge a line cut by its length,
// so to them such a piece is a whole short line and the next piece starts a
// new one. Every reader of a file takes the same pieces (the lookup's), so
// all of them start their lines at the same bytes, zero bytes or not.
#pragma once

#include "heap_text.h"
#include "piece_reader.h"

#include <cstddef>
#include <string_view>

// The lookup's piece: a 256-byte buffer read fgets-style.
inline constexpr size_t line_piece_max = 255;

class line_reader {
    piece_reader in_;
    char piece_[line_piece_max + 1];
    heap_text long_;
    int error_ = 0;

public:
    explicit line_reader(int fd) : in_(fd) {}
    line_reader(const line_reader &) = delete;
    line_reader &operator=(const line_reader &) = delete;

    // The next line, every byte of it (its newline included when it has
    // one), followed in memory by a zero byte. A line that fits one piece,
    // as every line the device writes does, is handed out from the piece
    // itself; a longer one is gathered on the heap. Empty at the end of the
    // input or on a failure.
    std::string_view next();
    // A failed read's -errno, -ENOMEM for a line too long for the memory
    // left, or 0.
    int error() const { return error_ ? error_ : in_.error(); }
    bool failed() const { return error() != 0; }
};

// The part of a line that counts: everything before its first zero byte, and
// nothing after its first newline.
std::string_view line_text(std::string_view line);
