// The commit (c) and the restore (i) of a flash device, in a scratch
// directory with a defaults file of the test's choice: what a save leaves
// and what the next start finds. For unit tests, which link the store.
#pragma once

#include "flash/commands.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <string>

struct flash_restorer {
    temp_dir dir;
    std::string working = dir / "working", defaults = dir / "defaults";

    explicit flash_restorer(const std::string &defaults_text) { dir.put("defaults", defaults_text); }
    // The working configuration that `i` makes from `device` into an empty
    // one; what the restore prints is dropped.
    std::string restore(const std::string &device)
    {
        dir.put("working", "");
        run([](const flash_paths &p) { flash_restore(p); }, device);
        return dir.get("working");
    }
    // `c` of `text` onto `device`: what it prints on standard error.
    std::string commit(const std::string &device, const std::string &text)
    {
        dir.put("working", text);
        return run([](const flash_paths &p) { flash_commit(p); }, device);
    }

private:
    template <class Command> std::string run(Command command, const std::string &device)
    {
        const flash_paths p{device.c_str(), working.c_str(), defaults.c_str()};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        command(p);
        testing::internal::GetCapturedStdout();
        return testing::internal::GetCapturedStderr();
    }
};
