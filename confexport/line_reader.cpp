#include "line_reader.h"

#include <cstdlib>
#include <cstring>

line_reader::~line_reader() { std::free(long_); }

// Appends `more` after the first `used` bytes of the long line, leaving room
// for the zero byte after it.
bool line_reader::keep(size_t used, std::string_view more)
{
    size_t need = used + more.size() + 1;
    if (need > cap_) {
        size_t cap = cap_ ? cap_ : sizeof piece_;
        while (cap < need)
            cap *= 2;
        char *grown = static_cast<char *>(std::realloc(long_, cap));
        if (!grown) {
            out_of_memory_ = true;
            return false;
        }
        long_ = grown;
        cap_ = cap;
    }
    std::memcpy(long_ + used, more.data(), more.size());
    long_[used + more.size()] = '\0';
    return true;
}

std::string_view line_reader::next()
{
    // A piece ends a line when it ends with a newline or falls short of a
    // full piece (the end of the input).
    const size_t full = sizeof piece_ - 1;
    size_t n = in_.next(piece_);
    if (n == 0 || piece_[n - 1] == '\n' || n < full)
        return std::string_view(piece_, n);
    size_t used = 0;
    do {
        if (!keep(used, std::string_view(piece_, n)))
            return {};
        used += n;
        if (piece_[n - 1] == '\n' || n < full)
            break;
    } while ((n = in_.next(piece_)) > 0);
    return std::string_view(long_, used);
}
