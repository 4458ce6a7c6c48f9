// Runs shell scripts inside the simulated access point (sim/sandbox) and hands
// back what they printed and the files they left, so a test can compare
// bytes exactly without ever touching the host's /tmp, /etc or /dev.
#pragma once

#include "host_file.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

struct sandbox_result {
    int status = -1;          // the script's exit status; -1 when it never ended
    int sandbox_status = -1;  // the sandbox's own (129 after a restart request)
    std::string out, err;     // the script's standard output and error
    std::map<std::string, std::optional<std::string>> files;  // fetched files

    // The bytes of a fetched file; a missing file reads as "<missing>".
    std::string file(const std::string &path) const;
    bool exists(const std::string &path) const;
};

struct sandbox {
    // Files placed before the script runs: device path -> exact bytes.
    std::map<std::string, std::string> files;
    // Device paths copied out after the script (missing ones are noted).
    std::vector<std::string> fetch;
    // Target of /dev/mtdblock4 (an image file or loop device), or none.
    std::string flash;
    // Defaults file to install; empty: the shipped one; "none": no file.
    std::string defaults;
    // Host directory for this run's scratch files (created on first use).
    std::string work();

    sandbox_result run(const std::string &script);

private:
    std::string work_;
};

// A fresh directory on the host, outside /tmp, that the sandbox keeps visible.
std::string make_work_dir();
// The text of a shell word that stands for exactly `s`.
std::string shell_quote(const std::string &s);
