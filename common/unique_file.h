// Sole ownership of one stdio stream: closed when the owner goes away.
#pragma once

#include <cerrno>
#include <cstdio>
#include <utility>

class unique_file {
    FILE *f_;

public:
    explicit unique_file(FILE *f = nullptr) : f_(f) {}
    unique_file(unique_file &&o) noexcept : f_(o.release()) {}
    unique_file &operator=(unique_file &&o) noexcept
    {
        reset(o.release());
        return *this;
    }
    unique_file(const unique_file &) = delete;
    unique_file &operator=(const unique_file &) = delete;
    ~unique_file() { reset(); }

    [[nodiscard]] FILE *release() { return std::exchange(f_, nullptr); }
    void reset(FILE *f = nullptr)
    {
        int e = errno;
        if (f_)
            ::fclose(f_);
        f_ = f;
        errno = e;
    }
    // Closes now and tells whether everything buffered reached the file.
    [[nodiscard]] int close()
    {
        FILE *f = release();
        return f && ::fclose(f) == 0 ? 0 : -1;
    }
    FILE *get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
};
