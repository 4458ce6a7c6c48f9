// Formatted text as printf makes it, for the conversions the programs' texts
// use and no others: %s and %.*s, %d and %ld, %u, %lu, %zu and %x, with the
// 0 flag, a width and a precision, and %%. The programs print the same bytes
// as before at a fraction of the C library's formatting machinery.
//
// A format is checked against its arguments where it is compiled: a
// conversion outside that set, an argument of another type or a count that
// does not fit stops the build (in format_mismatch()), as the compiler's
// own check of printf formats would.
#pragma once

#include "out_buffer.h"

#include <cstddef>
#include <span>
#include <type_traits>

// One conversion of a format, as it reads after its "%".
struct format_spec {
    bool zero = false;   // the 0 flag: numbers padded with zeros to the width
    bool star = false;   // the precision comes from an int argument
    size_t width = 0;
    int precision = -1;  // none
    char length = 0;     // 'l', 'z' or none
    char conv = 0;       // 'd', 'u', 'x', 's', '%'; 0 for anything else
};

// Reads the conversion that starts at `p` (just behind its "%") into `s`;
// the text behind it.
constexpr const char *format_parse(const char *p, format_spec &s)
{
    if (*p == '0') {
        s.zero = true;
        ++p;
    }
    for (; *p >= '0' && *p <= '9'; ++p)
        s.width = s.width * 10 + static_cast<size_t>(*p - '0');
    if (*p == '.') {
        s.precision = 0;
        if (*++p == '*') {
            s.star = true;
            ++p;
        }
        for (; *p >= '0' && *p <= '9'; ++p)
            s.precision = s.precision * 10 + (*p - '0');
    }
    if (*p == 'l' || *p == 'z')
        s.length = *p++;
    const char c = *p;
    s.conv = c == 'd' || c == 'u' || c == 'x' || c == 's' || c == '%' ? c : 0;
    return c ? p + 1 : p;
}

// An argument as the formatter takes it; its conversion tells which.
union format_arg {
    long i;
    unsigned long u;
    const char *s;
};

// Where formatted text goes: an out_buffer, or a fixed buffer that, as
// snprintf's, takes what fits and ends with a zero byte.
class format_sink {
    out_buffer *out_ = nullptr;
    char *buf_ = nullptr;
    size_t room_ = 0, len_ = 0;

public:
    explicit format_sink(out_buffer &out) : out_(&out) {}
    explicit format_sink(std::span<char> buf) : buf_(buf.data()), room_(buf.size()) {}
    void put(const char *bytes, size_t n);
    void fill(char c, size_t n);
    // The length of the whole text, also where it did not fit.
    size_t finish();
};

// The text of `fmt` with the arguments `args` into `sink`.
void format_to(format_sink &sink, const char *fmt, const format_arg *args);
// The same into `out`, settled (put_format), or into `buf` (format_into).
void format_to(out_buffer &out, const char *fmt, const format_arg *args);
size_t format_to(std::span<char> buf, const char *fmt, const format_arg *args);

namespace format_detail {

enum class kind : unsigned char { none, int_, long_, uint_, ulong_, text };

template <class T> consteval kind kind_of()
{
    if constexpr (std::is_same_v<T, int>)
        return kind::int_;
    else if constexpr (std::is_same_v<T, long>)
        return kind::long_;
    else if constexpr (std::is_same_v<T, unsigned>)
        return kind::uint_;
    else if constexpr (std::is_same_v<T, unsigned long>)
        return kind::ulong_;
    else if constexpr (std::is_same_v<T, const char *> || std::is_same_v<T, char *>)
        return kind::text;
    else
        return kind::none;
}

// What a conversion takes, as printf's rules have it.
consteval kind wanted(const format_spec &s)
{
    switch (s.conv) {
    case 'd': return s.length == 'l' ? kind::long_ : s.length ? kind::none : kind::int_;
    case 'u':
    case 'x': return s.length == 'l' ? kind::ulong_ : s.length == 'z' ? kind_of<size_t>() : kind::uint_;
    case 's': return s.length || s.zero ? kind::none : kind::text;
    }
    return kind::none;
}

// Not constexpr: a format check that reaches it does not compile.
void format_mismatch();

template <class... A> struct checked_format {
    const char *text;

    consteval checked_format(const char *fmt) : text(fmt)
    {
        constexpr kind kinds[] = {kind_of<A>()..., kind::none};
        size_t next = 0;
        auto take = [&](kind k) {
            if (next >= sizeof...(A) || kinds[next++] != k || k == kind::none)
                format_mismatch();
        };
        for (const char *p = fmt; *p;) {
            if (*p++ != '%')
                continue;
            format_spec s;
            p = format_parse(p, s);
            if (s.conv == '%' && !s.zero && !s.width && s.precision < 0 && !s.length)
                continue;
            if (s.star)
                take(kind::int_);
            take(wanted(s));
        }
        if (next != sizeof...(A))
            format_mismatch();
    }
};

template <class T> format_arg to_arg(T v)
{
    format_arg a;
    if constexpr (kind_of<T>() == kind::text)
        a.s = v;
    else if constexpr (std::is_signed_v<T>)
        a.i = v;
    else
        a.u = v;
    return a;
}

} // namespace format_detail

// The format of a call with arguments of the types A.
template <class... A>
using format_text = format_detail::checked_format<std::type_identity_t<A>...>;

// Appends the formatted text to `out`, which then writes it as its mode says.
template <class... A> void put_format(out_buffer &out, format_text<A...> fmt, A... args)
{
    const format_arg a[] = {format_detail::to_arg(args)..., format_arg{}};
    format_to(out, fmt.text, a);
}

// The formatted text into `buf`, cut to fit and ended by a zero byte, as
// snprintf does: the length of the whole text (a length of buf.size() or
// more says it was cut).
template <class... A> size_t format_into(std::span<char> buf, format_text<A...> fmt, A... args)
{
    const format_arg a[] = {format_detail::to_arg(args)..., format_arg{}};
    return format_to(buf, fmt.text, a);
}
