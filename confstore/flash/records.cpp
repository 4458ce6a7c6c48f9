// Records of the backup area.
#include "flash/records.h"

#include <algorithm>
#include <cstring>

namespace {

// Not text, not fill, not erased flash. Older firmware wrote records
// without a completion word under the first magic.
constexpr char magic[4] = {'\x9e', '\x0c', 'C', '\x71'};
constexpr char legacy_magic[4] = {'\x9e', '\x0c', 'B', '\x71'};
constexpr size_t done_len = flash_word;

void put_u32(char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>(v >> (24 - 8 * i));
}

uint32_t get_u32(const char *p)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(p[i]);
    return v;
}

uint32_t crc32(uint32_t crc, std::span<const char> bytes)
{
    for (char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return crc;
}

// The CRC32 of a record of sequence `seq` over `text`.
uint32_t record_crc(uint32_t seq, std::span<const char> text)
{
    char head[8];
    put_u32(head, seq);
    put_u32(head + 4, static_cast<uint32_t>(text.size()));
    return ~crc32(crc32(~0u, head), text);
}

size_t padded(size_t text_len)
{
    return (text_len + 3) / 4 * 4;
}

bool starts(std::span<const char> area, const char (&m)[4])
{
    return area.size() >= 4 && std::memcmp(area.data(), m, 4) == 0;
}

// A record of a text of `text_len` bytes as it is laid out, padding and
// completion word (one bus word, the record's last) included.
size_t record_size(size_t text_len)
{
    return flash_record_head + padded(text_len) + done_len;
}

// The record of `text` in `out` (record_size bytes), its save not yet
// finished.
void record_bytes(std::span<const char> text, uint32_t seq, std::span<char> out)
{
    std::memcpy(out.data(), magic, 4);
    put_u32(out.data() + 4, seq);
    put_u32(out.data() + 8, static_cast<uint32_t>(text.size()));
    put_u32(out.data() + 12, record_crc(seq, text));
    std::memcpy(out.data() + flash_record_head, text.data(), text.size());
    std::memset(out.data() + flash_record_head + text.size(), 0xFF,
                out.size() - flash_record_head - text.size());
}

// Whether the text fits a record in the backup area of `g`, and leaves the
// area free (layout.h).
bool backup_fits(const flash_geometry &g, size_t text_len)
{
    return g.has_backup() && text_len <= g.backup_at &&
           record_size(text_len) <= g.image_end - g.backup_at;
}

} // namespace

size_t flash_backup_unfinished(const flash_geometry &g, const flash_backup_state &s)
{
    if (!s.found || s.finished)
        return flash_none;
    return s.legacy ? g.backup_at : s.done_at;
}

namespace {

// Where the record of `text` goes in the backup area as it stands (`s`).
flash_record_step record_step(const flash_geometry &g, std::span<const char> dev,
                              std::span<const char> text, const flash_backup_state &s,
                              flash_area_use use)
{
    const size_t size = record_size(text.size());
    // A finished record of the same text gets a new one: the save under
    // way must be able to come back.
    if (s.found && !s.finished && s.text_len == text.size() &&
        std::memcmp(dev.data() + s.text_at, text.data(), text.size()) == 0)
        return {flash_record_step::already};
    if (!backup_fits(g, text.size()))
        return {flash_record_step::clear_word};
    if (s.tidy && s.next + size <= g.image_end)
        return {flash_record_step::record, false, s.next, size};
    if (use == flash_area_use::erase_if_needed)
        return {flash_record_step::record, true, g.backup_at, size};
    return {flash_record_step::clear_word};
}

} // namespace

flash_record_step flash_record_plan(const flash_geometry &g, std::span<const char> dev,
                                    std::span<const char> text, flash_area area,
                                    flash_area_use use, std::span<char> want)
{
    flash_backup_state s;
    if (area == flash_area::erased)
        s = {false, false, false, 0, 0, 0, 0, g.backup_at, true};
    else
        s = flash_backup_scan(g, dev);
    flash_record_step step = use == flash_area_use::none
                                 ? flash_record_step{flash_record_step::clear_word}
                                 : record_step(g, dev, text, s, use);
    // A text that reaches into the area leaves no area to lay out.
    if (text.size() > g.backup_at)
        return step;
    if (area == flash_area::erased || step.erase_first)
        std::memset(want.data() + g.backup_at, 0xFF, g.image_end - g.backup_at);
    if (step.how == flash_record_step::clear_word)
        std::memset(want.data() + g.backup_at, 0, done_len);
    if (step.how == flash_record_step::already)
        step.finish_at = flash_backup_unfinished(g, s);
    if (step.how == flash_record_step::record) {
        record_bytes(text, s.found ? s.seq + 1 : 1, want.subspan(step.at, step.len));
        step.finish_at = step.at + step.len - done_len;
    }
    if (step.finish_at != flash_none)
        std::memset(want.data() + step.finish_at, 0, done_len);
    return step;
}

bool flash_backup_starts(std::span<const char> area)
{
    return starts(area, magic) || starts(area, legacy_magic);
}

flash_backup_state flash_backup_scan(const flash_geometry &g, std::span<const char> dev)
{
    flash_backup_state s;
    if (!g.has_backup() || dev.size() < g.image_end)
        return s;
    const size_t image_end = g.image_end;
    size_t at = g.backup_at, examined = at;
    while (image_end - at >= flash_record_head && flash_backup_starts(dev.subspan(at))) {
        const bool legacy = starts(dev.subspan(at), legacy_magic);
        const uint32_t seq = get_u32(dev.data() + at + 4), len = get_u32(dev.data() + at + 8);
        const size_t size = flash_record_head + padded(len) + (legacy ? 0 : done_len);
        examined = at + flash_record_head;
        if (len > image_end - at - flash_record_head || size > image_end - at)
            break;
        examined = at + size;
        const std::span<const char> text = dev.subspan(at + flash_record_head, len);
        if (get_u32(dev.data() + at + 12) != record_crc(seq, text))
            break;
        const size_t done = at + size - done_len;
        s = {true, !legacy && get_u32(dev.data() + done) != 0xFFFFFFFFu, legacy,
             at + flash_record_head, len, seq, legacy ? 0 : done, 0, false};
        at += size;
    }
    s.next = at;
    s.examined = std::min(image_end, std::max(examined, at + 4));
    s.tidy = true;
    for (size_t i = at; i < image_end && s.tidy; ++i)
        s.tidy = dev[i] == '\xff';
    return s;
}
