// A scratch directory for unit tests, removed with everything in it.
#pragma once

#include <string>
#include <vector>

class temp_dir {
    std::string path_;

public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }
    // Writes / reads a file below the directory (or any absolute path); a
    // new one gets mode 0644 whatever the umask.
    void put(const std::string &name, const std::string &bytes) const;
    std::string get(const std::string &name) const;
    // Everything in the directory, sorted: a leftover temporary file shows here.
    std::vector<std::string> names() const;
};
