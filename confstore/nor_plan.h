// What a write of the flash image to NOR flash must do, apart from the
// device that does it: where the image ends on a partition, where validity
// markers lie, which erase blocks must be erased.
//
// NOR flash can only clear bits; an erase sets a whole block to 0xFF. The
// lookup that decides validity takes the first SYS_CHECK line anywhere on
// the device, and needs the ten marker digits side by side in it. So a write
// keeps the copy old, invalid or new at every moment if, before the first
// erase, every run of the marker digits on the device is cleared to "0"
// digits in place, and the new text's marker digits are programmed last.
#pragma once

#include <cstddef>
#include <span>

inline constexpr size_t nor_none = static_cast<size_t>(-1);

// Where the image of a text of `text_len` bytes ends on a partition of
// `part` bytes: the fill stops at the partition's end or at offset 262144,
// whichever comes first; the text itself must fit (the caller checks).
size_t nor_image_end(size_t text_len, size_t part);

// The offset of the first run of the marker digits at or after `from`, or
// nor_none.
size_t nor_next_marker(std::span<const char> bytes, size_t from);

// The offset of the marker digits that make `text` valid: the value of its
// first SYS_CHECK line, read by the lookup's line rules, when that value is
// the marker; nor_none otherwise.
size_t nor_deciding_marker(std::span<const char> text);

// True when `want` can be programmed over `have` by clearing bits only.
bool nor_programmable(std::span<const char> have, std::span<const char> want);

// The final bytes of the block at `at` (want.size() bytes): the image up to
// `end`, what the device holds (`dev`) behind it.
void nor_block_image(std::span<const char> text, size_t end, std::span<const char> dev, size_t at,
                     std::span<char> want);
