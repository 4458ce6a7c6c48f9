// The layout of the flash partition: where the flash copy, its fill and the
// backup area lie, and the image of a text. The records in the backup area
// are records.h's; what makes the copy valid, reading.h's.
//
// Layout, from offset 0 of the partition:
//
//   | text | fill ... | backup area | untouched ...
//   0                B             A
//
// A (`image_end`), the end of the image area, is offset 262144 or the
// partition's end, whichever comes first; nothing is ever written behind
// it, unless a text is longer. The backup area is the last erase block
// before A (`backup_at`, B, to A); the fill runs from the text's end to B
// (byte k is 0xFF when k mod 4 is 3, else 0x00: neither "=" nor a newline,
// so a line read that reaches it ends the text). Older firmware and other
// readers read the text and its fill as they always have. A text that
// reaches into the backup area is written whole with the fill up to A (and
// at least one fill group behind the text), and then there is no backup
// area.
//
// The copy is valid when the lookup's rules find the marker digits as the
// value of the first SYS_CHECK line in the copy's text (reading.h).
#pragma once

#include "flash/result.h"

#include <cstddef>
#include <span>

inline constexpr size_t flash_image_max = 262144;
inline constexpr char flash_marker_name[] = "SYS_CHECK";
inline constexpr char flash_marker[] = "7340215968";
inline constexpr size_t flash_marker_len = sizeof flash_marker - 1;
// Programs start and end on bus-word boundaries, the bytes around a change
// programmed as the device holds them: the kernel pads a partial bus word
// with 0xFF, which a chip leaves as it is but an emulated flash stores.
// Fill groups and records keep to the same 4 bytes.
inline constexpr size_t flash_word = 4;

constexpr char flash_fill_byte(size_t offset)
{
    return offset % 4 == 3 ? static_cast<char>(0xFF) : '\0';
}

struct flash_geometry {
    size_t part = 0;       // the partition's size
    size_t erase = 0;      // its erase block size
    size_t image_end = 0;  // A
    size_t backup_at = 0;  // B, when has_backup()

    // False when the partition has no room for a backup area before A.
    bool has_backup() const { return backup_at != 0; }
};
flash_geometry flash_geometry_of(size_t part, size_t erase);

// The image's bytes from `offset` on, as many as `out` holds.
void flash_image_bytes(std::span<const char> text, size_t offset, std::span<char> out);

// Lays the image of `text` over the partition's bytes `partition`: the text
// and its fill up to the offset it returns, the fill's end: B when the text
// leaves the backup area free, else A or one fill group behind the text,
// whichever comes later (never behind the partition's end).
size_t flash_lay_out(const flash_geometry &g, std::span<const char> text,
                     std::span<char> partition);

// The offset of the first run of the marker digits at or after `from`, or
// flash_none.
size_t flash_next_marker(std::span<const char> bytes, size_t from);
