// The flash copy on its device: the image layout, and writing an image so
// that an interruption never leaves a mix of two texts.
//
// Layout: the configuration text from offset 0, then the fill up to offset
// 262144 or the partition's end, whichever comes first (the byte at offset
// k is 0xFF when k mod 4 is 3, else 0x00; it holds neither "=" nor a
// newline, so a line read that reaches it ends the text). Nothing is
// written beyond unless the text is longer.
#pragma once

#include <cstddef>
#include <span>
#include <sys/types.h>

inline constexpr size_t flash_fill_end = 262144;
// The flash copy is valid when its SYS_CHECK setting holds this value.
inline constexpr char flash_marker_name[] = "SYS_CHECK";
inline constexpr char flash_marker[] = "7340215968";

constexpr char flash_fill_byte(size_t offset)
{
    return offset % 4 == 3 ? static_cast<char>(0xFF) : '\0';
}

// The length of the image of a text of `text_len` bytes in a file.
constexpr size_t flash_image_size(size_t text_len)
{
    return text_len > flash_fill_end ? text_len : flash_fill_end;
}

// The image's bytes from `offset` on, as many as `out` holds.
void flash_image_bytes(std::span<const char> text, size_t offset, std::span<char> out);

// Makes the device at `fd` (open for reading and writing) hold the image of
// `text`. The device is read first and only what differs is written. On
// the block device of an MTD partition whose character device is there,
// the image goes through that (nor_write.h): it erases only the blocks that
// change and makes the copy valid last. Elsewhere (a file, a loop device)
// each step reaches the device (fsync) before the next. The count of bytes
// written (0: the device already held the image), or -errno; -ENOSPC,
// before anything is written, for a text longer than a block device.
ssize_t flash_write_image(int fd, std::span<const char> text);

// Reads the device from its start to its end. 0, or -errno.
int flash_read_check(int fd);

// For tests of interrupted writes: once `bytes` more bytes have reached the
// device, every further write fails as if the power had gone (-ECANCELED).
// A negative count lifts the cut.
void flash_cut_after(long long bytes);
