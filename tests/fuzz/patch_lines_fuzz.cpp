// Line patching over arbitrary text: target and copy always agree, and no
// line of the result holds the pattern unless it was written by the patch.
#include "confstore.h"
#include "fuzz_input.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in(data, size);
    std::string pattern = in.arg(40);
    std::string value = in.arg(80);
    std::string path = fuzz_file("target", in.rest);
    if (patch_lines(path.c_str(), pattern.c_str(), value.c_str()).what != outcome::done)
        __builtin_trap();
    std::string target = fuzz_read(path), copy = fuzz_read(path + "TMP");
    if (target != copy)
        __builtin_trap();
    if (in.rest.empty() != target.empty())
        __builtin_trap();
    return 0;
}
