// The lookup's line rules.
#include "config_line.h"

#include "confstore.h"
#include "text_reader.h"

#include <algorithm>
#include <cstring>

namespace {

// A line's name ends at the first of these; so "AP_SSID X=5" and
// "AP_SSID|X=5" both name AP_SSID.
constexpr char name_stops[] = "=|^ \t";

// The first `n` bytes of `s` (string_view's substr would throw, and the
// programs have no exceptions).
std::string_view head(std::string_view s, size_t n)
{
    return {s.data(), std::min(n, s.size())};
}

} // namespace

config_value config_line_value(std::string_view piece, std::string_view name)
{
    if (piece.empty())
        return {};
    // The piece as the C string that the lookup has always judged (its text
    // ends at a zero byte), then without its leading white space.
    char line[text_piece_max + 1], rest[text_piece_max + 1];
    const size_t n = strnlen(piece.data(), std::min(piece.size(), text_piece_max));
    std::memcpy(line, piece.data(), n);
    line[n] = '\0';
    const std::string_view text(l_trim(rest, line));
    const size_t eq = text.find('=');
    // Compared whole, however long: a long name never matches on a prefix.
    if (eq == std::string_view::npos || head(text, text.find_first_of(name_stops)) != name)
        return {};
    const size_t lead = n - text.size() + eq + 1;
    const size_t len = std::min(text.find('\n'), text.size()) - (eq + 1);
    config_value v{true, lead, {piece.data() + lead, len}};
    // The value alone, as a C string in place, trimmed; one of white space
    // only is delivered as it stands.
    char *value = rest + eq + 1;
    value[len] = '\0';
    const size_t trimmed = std::strlen(a_trim(line, value));
    if (trimmed > 0) {
        const size_t skip = len - std::strlen(l_trim(line, value));
        v.at += skip;
        v.text = {v.text.data() + skip, trimmed};
    }
    return v;
}

void config_deliver(const config_value &v, std::span<char> value)
{
    if (!v.found || v.text.empty() || value.empty())
        return;
    const size_t len = std::min(v.text.size(), value.size() - 1);
    std::memcpy(value.data(), v.text.data(), len);
    value[len] = '\0';
}

config_value config_find(text_reader &in, std::string_view name)
{
    for (text_piece p; !(p = in.next_piece()).bytes.empty();) {
        // Only a line's first piece is judged: a long value is cut to it.
        if (p.continues)
            continue;
        if (config_value v = config_line_value(p.bytes, name); v.found) {
            v.at += p.at;
            return v;
        }
    }
    return {};
}

config_value config_find(std::span<const char> text, std::string_view name)
{
    text_reader in(text);
    return config_find(in, name);
}
