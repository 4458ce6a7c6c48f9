// A small write buffer over a borrowed descriptor. The first failure sticks:
// later writes are dropped and flush() reports it, so a caller checks once.
#pragma once

#include <cstddef>
#include <string_view>

class out_buffer {
    int fd_;
    int err_ = 0;
    size_t used_ = 0;
    char buf_[4096];

public:
    explicit out_buffer(int fd) : fd_(fd) {}
    out_buffer(const out_buffer &) = delete;
    out_buffer &operator=(const out_buffer &) = delete;

    void put(std::string_view bytes);
    // Writes out what is buffered. 0, or the first -errno met.
    [[nodiscard]] int flush();
};
