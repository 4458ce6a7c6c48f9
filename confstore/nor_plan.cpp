// Where the image ends, where markers lie, what a block needs.
#include "nor_plan.h"

#include "confstore.h"
#include "flash_device.h"
#include "piece_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr size_t marker_len = sizeof flash_marker - 1;
constexpr char blanks[] = " \t\n\v\f\r";
// A line's name ends at the first of these (the lookup's rule).
constexpr char name_stops[] = "=|^ \t";

// The next line piece from `at`: at most 255 bytes, ending after a newline.
std::string_view next_piece(std::span<const char> text, size_t at)
{
    size_t n = std::min<size_t>(config_piece_max, text.size() - at);
    const char *nl = static_cast<const char *>(std::memchr(text.data() + at, '\n', n));
    if (nl)
        n = static_cast<size_t>(nl - (text.data() + at)) + 1;
    return {text.data() + at, n};
}

// The bytes of `s` from `from` on, at most `n` (no bounds exception).
std::string_view tail(std::string_view s, size_t from, size_t n = std::string_view::npos)
{
    from = std::min(from, s.size());
    return {s.data() + from, std::min(n, s.size() - from)};
}

// Where the trimmed value of a SYS_CHECK piece starts when it is the marker;
// nor_none - 1 for a SYS_CHECK piece with another value, nor_none for
// another piece.
size_t marker_in_piece(std::string_view piece, size_t at)
{
    piece = tail(piece, 0, piece.find('\0'));
    size_t lead = std::min(piece.find_first_not_of(blanks), piece.size());
    std::string_view line = tail(piece, lead);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || tail(line, 0, line.find_first_of(name_stops)) != flash_marker_name)
        return nor_none;
    std::string_view value = tail(line, eq + 1);
    value = tail(value, 0, value.find('\n'));
    size_t first = value.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return nor_none - 1;
    size_t last = value.find_last_not_of(blanks);
    if (tail(value, first, last + 1 - first) != flash_marker)
        return nor_none - 1;
    return at + lead + eq + 1 + first;
}

} // namespace

size_t nor_image_end(size_t text_len, size_t part)
{
    return std::max(text_len, std::min(part, flash_fill_end));
}

size_t nor_next_marker(std::span<const char> bytes, size_t from)
{
    if (from >= bytes.size())
        return nor_none;
    const void *hit = ::memmem(bytes.data() + from, bytes.size() - from, flash_marker, marker_len);
    return hit ? static_cast<size_t>(static_cast<const char *>(hit) - bytes.data()) : nor_none;
}

size_t nor_deciding_marker(std::span<const char> text)
{
    // As the lookup reads: only a line's first piece is judged.
    bool rest_of_line = false;
    for (size_t at = 0; at < text.size();) {
        std::string_view piece = next_piece(text, at);
        size_t m = rest_of_line ? nor_none : marker_in_piece(piece, at);
        if (m != nor_none)
            return m == nor_none - 1 ? nor_none : m;
        rest_of_line = piece_goes_on(piece, config_piece_max);
        at += piece.size();
    }
    return nor_none;
}

bool nor_programmable(std::span<const char> have, std::span<const char> want)
{
    for (size_t i = 0; i < want.size(); ++i)
        if ((have[i] & want[i]) != want[i])
            return false;
    return true;
}

void nor_block_image(std::span<const char> text, size_t end, std::span<const char> dev, size_t at,
                     std::span<char> want)
{
    size_t in_image = at < end ? std::min(want.size(), end - at) : 0;
    flash_image_bytes(text, at, want.first(in_image));
    std::memcpy(want.data() + in_image, dev.data() + at + in_image, want.size() - in_image);
}
