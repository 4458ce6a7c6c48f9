#include "out_buffer.h"

#include "io.h"

#include <cstring>

void out_buffer::put(std::string_view bytes)
{
    if (err_)
        return;
    if (used_ + bytes.size() > sizeof buf_) {
        if (flush() != 0)
            return;
        if (bytes.size() > sizeof buf_) {
            err_ = write_all(fd_, std::span<const char>(bytes.data(), bytes.size()));
            return;
        }
    }
    std::memcpy(buf_ + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

int out_buffer::flush()
{
    if (!err_ && used_)
        err_ = write_all(fd_, std::span<const char>(buf_, used_));
    used_ = 0;
    return err_;
}
