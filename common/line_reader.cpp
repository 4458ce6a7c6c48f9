#include "line_reader.h"

#include <cerrno>
#include <cstring>

std::string_view line_reader::next()
{
    size_t n = in_.next(piece_);
    if (n == 0 || !in_.goes_on())
        return std::string_view(piece_, n);
    long_.clear();
    for (;;) {
        if (long_.append(std::string_view(piece_, n)) != 0) {
            error_ = -ENOMEM;
            return {};
        }
        if (!in_.goes_on() || (n = in_.next(piece_)) == 0)
            break;
    }
    return long_.view();
}

std::string_view line_text(std::string_view line)
{
    if (const void *zero = std::memchr(line.data(), '\0', line.size()))
        line = std::string_view(line.data(), static_cast<const char *>(zero) - line.data());
    if (const void *nl = std::memchr(line.data(), '\n', line.size()))
        line = std::string_view(line.data(), static_cast<const char *>(nl) - line.data() + 1);
    return line;
}
