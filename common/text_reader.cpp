#include "text_reader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// Whether the line of `piece` goes on in the next piece: it filled a whole
// piece without reaching a newline, and holds no zero byte.
bool goes_on(std::string_view piece)
{
    return piece.size() == text_piece_max && piece.back() != '\n' &&
           std::memchr(piece.data(), '\0', piece.size()) == nullptr;
}

} // namespace

// Reads until a whole piece is in hand: a full piece's bytes, a newline, or
// the end of the descriptor.
void text_reader::fill()
{
    while (more_ && end_ - pos_ < text_piece_max &&
           std::memchr(buf_ + pos_, '\n', end_ - pos_) == nullptr) {
        if (pos_ > 0) {
            std::memmove(buf_, buf_ + pos_, end_ - pos_);
            base_ += pos_;
            end_ -= pos_;
            pos_ = 0;
        }
        ssize_t n = ::read(fd_, buf_ + end_, sizeof buf_ - end_);
        if (n > 0) {
            end_ += static_cast<size_t>(n);
        } else if (n == 0) {
            more_ = false;
        } else if (errno != EINTR) {
            error_ = -errno;
            more_ = false;
        }
    }
}

text_piece text_reader::next_piece()
{
    fill();
    size_t n = end_ - pos_ < text_piece_max ? end_ - pos_ : text_piece_max;
    if (const void *nl = n ? std::memchr(data_ + pos_, '\n', n) : nullptr)
        n = static_cast<size_t>(static_cast<const char *>(nl) - (data_ + pos_)) + 1;
    const text_piece p{{data_ + pos_, n}, base_ + pos_, goes_on_};
    pos_ += n;
    goes_on_ = goes_on(p.bytes);
    return p;
}

text_line text_reader::next_line()
{
    text_piece p = next_piece();
    if (!goes_on_)
        return {p.bytes, p.at};
    long_.clear();
    const size_t at = p.at;
    do {
        if (long_.append(p.bytes) != 0) {
            error_ = -ENOMEM;
            more_ = false;
            pos_ = end_;
            return {};
        }
    } while (goes_on_ && !(p = next_piece()).bytes.empty());
    return {long_.view(), at};
}

std::string_view line_text(std::string_view line)
{
    if (line.empty())
        return line;
    if (const void *zero = std::memchr(line.data(), '\0', line.size()))
        line = std::string_view(line.data(), static_cast<const char *>(zero) - line.data());
    if (const void *nl = std::memchr(line.data(), '\n', line.size()))
        line = std::string_view(line.data(), static_cast<const char *>(nl) - line.data() + 1);
    return line;
}
