#include "piece_reader.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

bool piece_reader::fill()
{
    // After a failed read the input ends: nothing past a hole is taken.
    if (error_)
        return false;
    for (;;) {
        ssize_t n = ::read(fd_, buf_, sizeof buf_);
        if (n >= 0) {
            pos_ = 0;
            end_ = static_cast<size_t>(n);
            return n > 0;
        }
        if (errno != EINTR) {
            error_ = -errno;
            return false;
        }
    }
}

size_t piece_reader::next(std::span<char> out)
{
    size_t room = out.size() - 1, got = 0;
    while (got < room) {
        if (pos_ == end_ && !fill())
            break;
        size_t take = end_ - pos_;
        if (take > room - got)
            take = room - got;
        const char *nl = static_cast<const char *>(std::memchr(buf_ + pos_, '\n', take));
        if (nl)
            take = static_cast<size_t>(nl - (buf_ + pos_)) + 1;
        std::memcpy(out.data() + got, buf_ + pos_, take);
        pos_ += take;
        got += take;
        if (nl)
            break;
    }
    out[got] = '\0';
    goes_on_ = piece_goes_on(std::string_view(out.data(), got), room);
    return got;
}
