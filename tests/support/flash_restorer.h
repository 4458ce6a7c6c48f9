// The restore (i) of a flash device into an empty working configuration, in
// a scratch directory with a defaults file of the test's choice: what the
// next start would find after a write. For unit tests, which link the store.
#pragma once

#include "flash.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <string>

struct flash_restorer {
    temp_dir dir;
    std::string working = dir / "working", defaults = dir / "defaults";

    explicit flash_restorer(const std::string &defaults_text) { dir.put("defaults", defaults_text); }
    // The working configuration that `i` makes from `device`; what the
    // restore prints is dropped.
    std::string restore(const std::string &device)
    {
        dir.put("working", "");
        const flash_paths p{device.c_str(), working.c_str(), defaults.c_str()};
        char value[512] = {};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        flash_restore(p, value);
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        return dir.get("working");
    }
};
