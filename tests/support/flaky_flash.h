// A flash partition whose reads fail with EIO in given ranges: an image
// file served through FUSE (tests/helpers/flaky_flash.cpp) on a directory
// of the test's work directory, mounted before the sandbox starts (its
// mount namespace takes a copy) and unmounted when the object goes away.
#pragma once

#include <string>
#include <utility>
#include <vector>

class flaky_flash {
    std::string dir_, path_;

public:
    // Serves `image` at DIR/flash, DIR made under `work`; path() is empty
    // when that failed.
    flaky_flash(const std::string &image, const std::string &work,
                const std::vector<std::pair<size_t, size_t>> &unreadable);
    ~flaky_flash();
    flaky_flash(const flaky_flash &) = delete;
    flaky_flash &operator=(const flaky_flash &) = delete;

    const std::string &path() const { return path_; }
};
