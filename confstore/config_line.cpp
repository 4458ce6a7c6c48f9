// The lookup's line rules.
#include "config_line.h"

#include "confstore.h"
#include "piece_reader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char blanks[] = " \t\n\v\f\r";
// A line's name ends at the first of these; so "AP_SSID X=5" and
// "AP_SSID|X=5" both name AP_SSID.
constexpr char name_stops[] = "=|^ \t";

// The bytes of `s` from `at` on, and its first `n` bytes (string_view's
// substr would throw, and the programs have no exceptions).
std::string_view from(std::string_view s, size_t at)
{
    at = std::min(at, s.size());
    return {s.data() + at, s.size() - at};
}

std::string_view head(std::string_view s, size_t n)
{
    return {s.data(), std::min(n, s.size())};
}

} // namespace

config_value config_line_value(std::string_view piece, std::string_view name)
{
    piece = head(piece, piece.find('\0'));
    const size_t lead = std::min(piece.find_first_not_of(blanks), piece.size());
    const std::string_view line = from(piece, lead);
    const size_t eq = line.find('=');
    // Compared whole, however long: a long name never matches on a prefix.
    if (eq == std::string_view::npos || head(line, line.find_first_of(name_stops)) != name)
        return {};
    std::string_view value = from(line, eq + 1);
    value = head(value, value.find('\n'));
    config_value v{true, lead + eq + 1, value.size()};
    const size_t first = value.find_first_not_of(blanks);
    if (first != std::string_view::npos) {
        v.at += first;
        v.len = value.find_last_not_of(blanks) + 1 - first;
    }
    return v;
}

void config_deliver(std::span<const char> text, const config_value &v, std::span<char> value)
{
    if (!v.found || v.len == 0 || value.empty())
        return;
    const size_t len = std::min(v.len, value.size() - 1);
    std::memcpy(value.data(), text.data() + v.at, len);
    value[len] = '\0';
}

std::string_view config_next_piece(std::span<const char> text, size_t at)
{
    size_t n = std::min<size_t>(config_piece_max, text.size() - at);
    const char *nl = static_cast<const char *>(std::memchr(text.data() + at, '\n', n));
    if (nl)
        n = static_cast<size_t>(nl - (text.data() + at)) + 1;
    return {text.data() + at, n};
}

config_value config_find(std::span<const char> text, std::string_view name)
{
    bool rest_of_line = false;
    for (size_t at = 0; at < text.size();) {
        const std::string_view piece = config_next_piece(text, at);
        if (!rest_of_line)
            if (config_value v = config_line_value(piece, name); v.found) {
                v.at += at;
                return v;
            }
        rest_of_line = piece_goes_on(piece, config_piece_max);
        at += piece.size();
    }
    return {};
}
