// Lookup of one setting in configuration text.
#include "confstore.h"
#include "messages.h"

#include "piece_reader.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>

namespace {

// A line's name ends at the first of these; so "AP_SSID X=5" and
// "AP_SSID|X=5" both name AP_SSID.
constexpr char name_stops[] = "=|^ \t";

// Stores the text after "=" (up to the line end) into `value`, trimmed;
// a value of white space only is kept as it stands, and an empty one leaves
// `value` untouched.
void deliver_value(const char *text, std::span<char> value)
{
    size_t len = std::strcspn(text, "\n");
    if (len == 0)
        return;
    if (len > value.size() - 1)
        len = value.size() - 1;
    std::memcpy(value.data(), text, len);
    value[len] = '\0';

    char trimmed[config_piece_max + 1];
    a_trim(trimmed, value.data());
    if (trimmed[0])
        std::memcpy(value.data(), trimmed, std::strlen(trimmed) + 1);
}

} // namespace

int config_get(const char *path, const char *name, std::span<char> value)
{
    distrust why;
    unique_fd fd(trusted_open(path, O_RDONLY, 0, &why));
    if (!fd) {
        if (!refused(path, why))
            std::printf(msg_open_failed_fmt, path, std::strerror(errno));
        return -1;
    }
    piece_reader in(fd.get());
    char piece[config_piece_max + 1], line[config_piece_max + 1];
    const std::string_view wanted(name);
    for (bool rest_of_line = false; in.next(piece) > 0; rest_of_line = in.goes_on()) {
        // Only a line's first piece is judged: a long value is cut to it.
        if (rest_of_line)
            continue;
        l_trim(line, piece);
        const char *eq = std::strchr(line, '=');
        if (!eq)
            continue;
        // Compared whole, however long: a long name never matches on a prefix.
        if (std::string_view(line, std::strcspn(line, name_stops)) != wanted)
            continue;
        deliver_value(eq + 1, value);
        return 1;
    }
    return 0;
}
