// Setting lines: how the store counts and gathers them on their way to and
// from the flash copy.
#include "flash_text.h"

#include "confstore.h"
#include "flash_device.h"

#include "io.h"
#include "piece_reader.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>

namespace {

constexpr std::span<const char> newline("\n", 1);

// One line as read: at most 255 bytes ending after a newline, whose text ends
// at its first zero byte.
struct setting_piece {
    std::string_view text;
    bool cut = false;  // a zero byte ended the text before the piece's end
    size_t offset = 0; // where the piece starts in the source
};

class setting_reader {
    piece_reader in_;
    char buf_[config_piece_max + 1];
    size_t offset_ = 0;
    int error_ = 0;

public:
    explicit setting_reader(int fd) : in_(fd) {}

    // The next line while it is a setting line; false at the end of the
    // source, at the first line without "=", or when reading fails.
    bool next(setting_piece &p)
    {
        size_t n = in_.next(buf_);
        if (in_.failed()) {
            error_ = errno ? -errno : -EIO;
            return false;
        }
        if (n == 0)
            return false;
        size_t len = strnlen(buf_, n);
        p = {std::string_view(buf_, len), len < n, offset_};
        offset_ += n;
        return p.text.find('=') != std::string_view::npos;
    }
    int error() const { return error_; }
};

// A text that ran into the fill has taken the fill's 0xFF along when it
// ended one byte before a fill group's last byte.
std::string_view without_fill(const setting_piece &p)
{
    size_t len = p.text.size();
    size_t last = p.offset + len - 1;
    if (len > 0 && static_cast<unsigned char>(p.text.back()) == 0xFF &&
        static_cast<unsigned char>(flash_fill_byte(last)) == 0xFF)
        --len;
    return std::string_view(p.text.data(), len);
}

} // namespace

int count_setting_lines(int fd)
{
    setting_reader in(fd);
    setting_piece p;
    int lines = 0;
    while (in.next(p))
        ++lines;
    return in.error() ? in.error() : lines;
}

int copy_setting_lines(int fd, line_source from, heap_text &out)
{
    const bool flash = from == line_source::flash;
    setting_reader in(fd);
    setting_piece p;
    while (in.next(p)) {
        std::string_view text = flash && p.cut ? without_fill(p) : p.text;
        if (int rc = out.append(text))
            return rc;
        if (flash && p.cut && !out.ends_line())
            if (int rc = out.append(newline))
                return rc;
    }
    if (in.error())
        return in.error();
    // A last line without its newline stays a line of its own when appended.
    return flash && !out.ends_line() ? out.append(newline) : 0;
}

int read_whole_file(int fd, heap_text &out)
{
    char chunk[16384];
    ssize_t n;
    while ((n = read_full(fd, chunk)) > 0) {
        if (int rc = out.append(std::span<const char>(chunk, static_cast<size_t>(n))))
            return rc;
        if (static_cast<size_t>(n) < sizeof chunk)
            break;
    }
    return n < 0 ? static_cast<int>(n) : 0;
}

int read_whole_file(const char *path, heap_text &out)
{
    unique_fd fd(::open(path, O_RDONLY | O_CLOEXEC));
    if (!fd)
        return -errno;
    return read_whole_file(fd.get(), out);
}
