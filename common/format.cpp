#include "format.h"

#include <cstring>

void format_sink::put(const char *bytes, size_t n)
{
    if (out_) {
        out_->append(std::string_view(bytes, n));
    } else if (len_ + 1 < room_) {
        const size_t fits = room_ - 1 - len_;
        std::memcpy(buf_ + len_, bytes, n < fits ? n : fits);
    }
    len_ += n;
}

void format_sink::fill(char c, size_t n)
{
    char run[16];
    std::memset(run, c, sizeof run);
    for (; n > sizeof run; n -= sizeof run)
        put(run, sizeof run);
    put(run, n);
}

size_t format_sink::finish()
{
    if (room_)
        buf_[len_ < room_ ? len_ : room_ - 1] = '\0';
    return len_;
}

namespace {

void put_text(format_sink &sink, const format_spec &s, const char *text)
{
    if (!text)
        text = "(null)";  // as glibc prints it, rather than a crash
    const size_t n = s.precision < 0 ? std::strlen(text)
                                     : strnlen(text, static_cast<size_t>(s.precision));
    if (s.width > n)
        sink.fill(' ', s.width - n);
    sink.put(text, n);
}

void put_number(format_sink &sink, const format_spec &s, format_arg a)
{
    const bool negative = s.conv == 'd' && a.i < 0;
    unsigned long v = s.conv == 'd' ? (negative ? 0UL - static_cast<unsigned long>(a.i)
                                                : static_cast<unsigned long>(a.i))
                                    : a.u;
    const unsigned base = s.conv == 'x' ? 16 : 10;
    char digits[3 * sizeof v];
    char *const end = digits + sizeof digits;
    char *first = end;
    // A precision of 0 prints no digit for the value 0.
    for (; v || (first == end && s.precision != 0); v /= base)
        *--first = "0123456789abcdef"[v % base];
    const size_t n = static_cast<size_t>(end - first);
    const size_t min_digits = s.precision > 0 ? static_cast<size_t>(s.precision) : 0;
    size_t zeros = min_digits > n ? min_digits - n : 0;
    size_t body = negative + zeros + n;
    if (s.zero && s.precision < 0 && s.width > body) {
        zeros += s.width - body;
        body = s.width;
    }
    if (s.width > body)
        sink.fill(' ', s.width - body);
    if (negative)
        sink.put("-", 1);
    sink.fill('0', zeros);
    sink.put(first, n);
}

} // namespace

void format_to(format_sink &sink, const char *fmt, const format_arg *args)
{
    while (*fmt) {
        const char *pct = std::strchr(fmt, '%');
        const size_t plain = pct ? static_cast<size_t>(pct - fmt) : std::strlen(fmt);
        sink.put(fmt, plain);
        if (!pct)
            return;
        format_spec s;
        fmt = format_parse(pct + 1, s);
        if (s.star)
            s.precision = static_cast<int>((args++)->i);
        if (s.conv == '%')
            sink.put("%", 1);
        else if (s.conv == 's')
            put_text(sink, s, (args++)->s);
        else if (s.conv)
            put_number(sink, s, *args++);
    }
}

void format_to(out_buffer &out, const char *fmt, const format_arg *args)
{
    format_sink sink(out);
    format_to(sink, fmt, args);
    out.settle();
}

size_t format_to(std::span<char> buf, const char *fmt, const format_arg *args)
{
    format_sink sink(buf);
    format_to(sink, fmt, args);
    return sink.finish();
}
