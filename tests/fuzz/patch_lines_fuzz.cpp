// Line patching over arbitrary text: target and copy always agree, and no
// line of the result holds the pattern unless it was written by the patch.
#include "confstore.h"
#include "fuzz_input.h"

#include <cstdio>
#include <string>

namespace {

std::string slurp(const std::string &path)
{
    std::string s;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    std::fclose(f);
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in(data, size);
    std::string pattern = in.arg(40);
    std::string value = in.arg(80);
    std::string path = fuzz_file("target", in.rest);
    patch_lines(path.c_str(), pattern.c_str(), value.c_str());
    std::string target = slurp(path), copy = slurp(path + "TMP");
    if (target != copy)
        __builtin_trap();
    if (in.rest.empty() != target.empty())
        __builtin_trap();
    return 0;
}
