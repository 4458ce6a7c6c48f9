// A loop device over an image file, so that tests can write a real block
// device as the flash copy. Detached when the object goes away.
#pragma once

#include <string>

class loop_device {
    std::string path_;

public:
    // Attaches `image` (losetup -f --show), read-only if asked; path() is
    // empty when that failed.
    explicit loop_device(const std::string &image, bool read_only = false);
    ~loop_device();
    loop_device(const loop_device &) = delete;
    loop_device &operator=(const loop_device &) = delete;

    const std::string &path() const { return path_; }
    // The device's bytes, read through the block device.
    std::string bytes() const;
    // Sectors written to the device so far (its block statistics), or -1.
    long long sectors_written() const;
};

// A file of `size` bytes: `head` from offset 0, then `filler` repeated.
std::string make_image(size_t size, const std::string &head, char filler);
