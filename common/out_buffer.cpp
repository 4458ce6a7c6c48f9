#include "out_buffer.h"

#include "io.h"

#include <cstring>

void out_buffer::append(std::string_view bytes)
{
    if (err_)
        return;
    if (mode_ == mode::lines && std::memchr(bytes.data(), '\n', bytes.size()))
        line_ended_ = true;
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

void out_buffer::settle()
{
    if (mode_ == mode::each || line_ended_) {
        line_ended_ = false;
        (void)flush();  // the failure sticks for the caller's last flush()
    }
}

int out_buffer::flush()
{
    if (!err_ && used_)
        err_ = write_all(fd_, std::span<const char>(buf_, used_));
    used_ = 0;
    return err_;
}
