// The partition's layout and the image of a text.
#include "flash/layout.h"

#include <algorithm>
#include <cstring>

flash_geometry flash_geometry_of(size_t part, size_t erase)
{
    flash_geometry g{part, erase, std::min(part, flash_image_max), 0};
    // The block that ends at A, if the text still has a block before it.
    if (erase > 0 && erase % 4 == 0 && g.image_end > erase)
        g.backup_at = (g.image_end - 1) / erase * erase;
    return g;
}

void flash_image_bytes(std::span<const char> text, size_t offset, std::span<char> out)
{
    size_t i = 0;
    if (offset < text.size()) {
        i = std::min(out.size(), text.size() - offset);
        std::memcpy(out.data(), text.data() + offset, i);
    }
    for (; i < out.size(); ++i)
        out[i] = flash_fill_byte(offset + i);
}

namespace {

size_t fill_end_of(const flash_geometry &g, size_t text_len)
{
    if (g.has_backup() && text_len <= g.backup_at)
        return g.backup_at;
    // A fill group right behind the text: its zero bytes end the last line,
    // whatever a longer text left behind it.
    const size_t behind = (text_len + 3) / 4 * 4 + 4;
    return std::min(g.part, std::max(behind, g.image_end));
}

} // namespace

size_t flash_lay_out(const flash_geometry &g, std::span<const char> text, std::span<char> partition)
{
    const size_t fill_end = fill_end_of(g, text.size());
    flash_image_bytes(text, 0, partition.first(fill_end));
    return fill_end;
}

size_t flash_next_marker(std::span<const char> bytes, size_t from)
{
    // By its first digit, then the rest: a few lines in place of the C
    // library's general search (1.5 KB on the device).
    for (size_t at = from; at + flash_marker_len <= bytes.size(); ++at) {
        const void *first = std::memchr(bytes.data() + at, flash_marker[0],
                                        bytes.size() - flash_marker_len + 1 - at);
        if (!first)
            break;
        at = static_cast<size_t>(static_cast<const char *>(first) - bytes.data());
        if (std::memcmp(bytes.data() + at + 1, flash_marker + 1, flash_marker_len - 1) == 0)
            return at;
    }
    return flash_none;
}
