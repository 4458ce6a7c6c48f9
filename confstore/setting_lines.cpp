// Setting lines: how the store counts and gathers them on their way to and
// from the flash copy.
#include "setting_lines.h"

#include "flash/layout.h"

#include "text_reader.h"

#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

constexpr std::span<const char> newline("\n", 1);

// One line as read: its text, the bytes up to its first zero byte, whole
// however many pieces it took.
struct setting_line {
    std::string_view text;
    bool cut = false;     // a zero byte ended the text before the line's end
    bool in_fill = false; // and what followed it in that piece was fill
    size_t offset = 0;    // where the line starts in the source
    size_t length = 0;    // its bytes in the source, the newline included
};

class setting_reader {
    text_reader in_;
    int error_ = 0;

public:
    explicit setting_reader(std::span<const char> text) : in_(text) {}

    // The next line while it is a setting line; false at the end of the
    // source, at the first line without "=", or when memory runs out. A
    // long line is taken whole, never judged by its pieces alone.
    bool next(setting_line &l)
    {
        l = {};
        const text_line line = in_.next_line();
        if ((error_ = in_.error()) != 0 || line.bytes.empty())
            return false;
        const size_t len = strnlen(line.bytes.data(), line.bytes.size());
        l.text = std::string_view(line.bytes.data(), len);
        l.offset = line.at;
        l.length = line.bytes.size();
        l.cut = len < line.bytes.size();
        l.in_fill = l.cut;
        for (size_t i = len; i < line.bytes.size() && l.in_fill; ++i)
            l.in_fill = line.bytes[i] == flash_fill_byte(line.at + i);
        return l.text.find('=') != std::string_view::npos;
    }
    int error() const { return error_; }
};

// A text that ran into the fill has taken the fill's 0xFF along when it
// ended one byte before a fill group's last byte. (A text whose last byte
// is a real 0xFF there reads the same: the store ends every text it writes
// with a newline, so only older copies can hold one.)
std::string_view without_fill(const setting_line &l)
{
    size_t len = l.text.size();
    if (l.in_fill && len > 0 && static_cast<unsigned char>(l.text.back()) == 0xFF &&
        static_cast<unsigned char>(flash_fill_byte(l.offset + len - 1)) == 0xFF)
        --len;
    return std::string_view(l.text.data(), len);
}

} // namespace

int count_setting_lines(std::span<const char> text)
{
    setting_reader in(text);
    setting_line p;
    int lines = 0;
    while (in.next(p))
        ++lines;
    return in.error() ? in.error() : lines;
}

size_t setting_lines_end(std::span<const char> text)
{
    setting_reader in(text);
    setting_line p;
    size_t end = 0;
    while (in.next(p))
        end = p.offset + p.length;
    return in.error() ? text.size() : end;
}

int append_setting_lines(std::span<const char> text, line_source from, heap_text &out)
{
    const bool flash = from == line_source::flash;
    setting_reader in(text);
    setting_line p;
    while (in.next(p)) {
        std::string_view line = flash ? without_fill(p) : p.text;
        if (int rc = out.append(line))
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
