// The device's text files (the working configuration, the defaults, the
// flash copy, files patched by `y`) as every program reads them: in pieces,
// and in whole lines made of pieces.
//
// The piece rule is the lookup's: a 256-byte buffer read fgets-style. A
// piece is at most text_piece_max bytes, ending after a newline when one
// comes first. A piece that fills those bytes without reaching a newline
// goes on in the next piece, which continues its line and is never a line
// of its own: a long value can neither end a text early nor smuggle in a
// setting. A zero byte ends a line's text; a piece that holds one also ends
// its line, since the device's C readers judge a line cut by its length,
// so to them such a piece is a whole short line and the next piece starts a
// new one. Every reader of a text takes the same pieces, so all of them
// start their lines at the same bytes, zero bytes or not.
//
// Unlike fgets, a piece tells how many bytes it holds, so a zero byte
// inside it is data, not an end.
#pragma once

#include "heap_text.h"

#include <cstddef>
#include <span>
#include <string_view>

inline constexpr size_t text_piece_max = 255;

struct text_piece {
    std::string_view bytes;  // empty at the end of the source
    size_t at = 0;           // where it starts in the source
    bool continues = false;  // it continues the line of the piece before
};

struct text_line {
    std::string_view bytes;  // every byte, its newline included; empty at the end
    size_t at = 0;           // where it starts in the source

    // The line's first piece: the only one the lookup judges.
    std::string_view first_piece() const
    {
        return {bytes.data(), bytes.size() < text_piece_max ? bytes.size() : text_piece_max};
    }
};

class text_reader {
    int fd_ = -1;
    const char *data_;       // the bytes in hand: the span, or buf_
    size_t pos_ = 0, end_ = 0;
    size_t base_ = 0;        // the source offset of data_[0]
    bool more_ = false;      // the descriptor may hold more
    bool goes_on_ = false;   // the next piece continues a line
    int error_ = 0;
    heap_text long_;
    char buf_[4096];

    void fill();

public:
    // Reads the descriptor from its current offset (offsets count from there).
    explicit text_reader(int fd) : fd_(fd), data_(buf_), more_(true) {}
    // Reads a text in memory; its pieces and lines point into it.
    explicit text_reader(std::span<const char> text)
        : data_(text.data()), end_(text.size()) {}
    text_reader(const text_reader &) = delete;
    text_reader &operator=(const text_reader &) = delete;

    // The next piece. Its bytes stay valid until the next call.
    text_piece next_piece();
    // The next line, gathered from its pieces. A line of one piece (every
    // line the device writes) points into the source or the read buffer; a
    // longer one is gathered on the heap. Valid until the next call.
    text_line next_line();

    // A failed read's -errno (kept when it happens: errno is anyone's by the
    // time a caller looks), -ENOMEM for a line too long for the memory left,
    // or 0. After a failed read the source ends: nothing past a hole is taken.
    int error() const { return error_; }
};

// The part of a line that counts: everything before its first zero byte, and
// nothing after its first newline.
std::string_view line_text(std::string_view line);
