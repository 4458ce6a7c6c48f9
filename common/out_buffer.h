// A small write buffer over a borrowed descriptor. The first failure sticks:
// later writes are dropped and flush() reports it, so a caller checks once.
#pragma once

#include <cstddef>
#include <string_view>

class out_buffer {
public:
    // When it writes: when full (a file, a pipe), at the end of a put that
    // ends a line (a terminal), or at the end of every put (standard error):
    // as the C library's streams do.
    enum class mode : unsigned char { full, lines, each };

private:
    int fd_;
    mode mode_;
    bool line_ended_ = false;
    int err_ = 0;
    size_t used_ = 0;
    char buf_[4096];

public:
    explicit out_buffer(int fd, mode m = mode::full) : fd_(fd), mode_(m) {}
    out_buffer(const out_buffer &) = delete;
    out_buffer &operator=(const out_buffer &) = delete;

    void put(std::string_view bytes)
    {
        append(bytes);
        settle();
    }
    // The parts of one put: append() them, then settle() writes them as the
    // mode says, in one write where they fit the buffer.
    void append(std::string_view bytes);
    void settle();
    // Writes out what is buffered. 0, or the first -errno met.
    [[nodiscard]] int flush();
};
