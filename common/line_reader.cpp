#include "line_reader.h"

std::string_view line_reader::next()
{
    // A piece ends a line when it ends with a newline or falls short of a
    // full piece (the end of the input).
    const size_t full = sizeof piece_ - 1;
    size_t n = in_.next(piece_);
    if (n == 0 || piece_[n - 1] == '\n' || n < full)
        return std::string_view(piece_, n);
    long_.clear();
    do {
        if (long_.append(std::string_view(piece_, n)) != 0) {
            out_of_memory_ = true;
            return {};
        }
        if (piece_[n - 1] == '\n' || n < full)
            break;
    } while ((n = in_.next(piece_)) > 0);
    return long_.view();
}
