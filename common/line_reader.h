// Whole lines of a file, however long. A line that fits one 511-byte piece,
// as every line the device writes does, is handed out from the piece itself;
// a longer one is gathered on the heap, so it is never cut into lines of its
// own.
#pragma once

#include "heap_text.h"
#include "piece_reader.h"

#include <cstddef>
#include <string_view>

class line_reader {
    piece_reader in_;
    char piece_[512];
    heap_text long_;
    bool out_of_memory_ = false;

public:
    explicit line_reader(int fd) : in_(fd) {}
    line_reader(const line_reader &) = delete;
    line_reader &operator=(const line_reader &) = delete;

    // The next line, its newline included when it has one, followed in
    // memory by a zero byte. Empty at the end of the input or on a failure.
    std::string_view next();
    // A read error, or a line too long for the memory left.
    bool failed() const { return out_of_memory_ || in_.failed(); }
};
