// Configuration text on its way between the working configuration, the
// defaults file and the flash copy: a growable heap buffer, and the line
// rules by which the store counts and copies setting lines.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <span>

// Sole owner of a heap buffer that holds a whole configuration text.
class flash_text {
    char *data_ = nullptr;
    size_t size_ = 0, cap_ = 0;

public:
    flash_text() = default;
    flash_text(const flash_text &) = delete;
    flash_text &operator=(const flash_text &) = delete;
    ~flash_text() { std::free(data_); }

    // 0, or -ENOMEM with the text as it was.
    [[nodiscard]] int append(std::span<const char> bytes);
    std::span<const char> bytes() const { return {data_, size_}; }
    size_t size() const { return size_; }
    bool ends_line() const { return size_ == 0 || data_[size_ - 1] == '\n'; }
};

// Where a text is read from. On the flash copy a text ends in the fill, so a
// line that runs into it is cut there and given back its newline.
enum class line_source { file, flash };

// The number of setting lines (lines holding "=") read from the descriptor's
// current offset before its end or its first line without "=", or -errno
// when reading fails. A line longer than 255 bytes is judged piece by piece.
int count_setting_lines(int fd);

// Appends those same setting lines to `out`, each as its text (the bytes up
// to the first zero byte). From the flash, the fill never enters the text
// and every line ends with a newline. 0, or -errno.
int copy_setting_lines(int fd, line_source from, flash_text &out);

// Appends everything from the descriptor's current offset to its end. 0, or -errno.
int read_whole_file(int fd, flash_text &out);
// The same for the file at `path`.
int read_whole_file(const char *path, flash_text &out);
