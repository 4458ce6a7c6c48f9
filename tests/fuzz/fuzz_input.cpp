#include "fuzz_input.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string fuzz_file(const char *name, std::string_view bytes)
{
    static std::string dir = [] {
        std::string d = FUZZ_WORK_ROOT "/fuzz." + std::to_string(getpid());
        mkdir(FUZZ_WORK_ROOT, 0755);
        mkdir(d.c_str(), 0755);
        return d;
    }();
    std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

std::string fuzz_read(const std::string &path)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}
