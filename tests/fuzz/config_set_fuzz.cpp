// The key update over arbitrary text: a stored setting always ends up as a
// whole line of its own, and a refused one changes nothing.
#include "confstore.h"
#include "fuzz_input.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in(data, size);
    std::string name = in.arg(60);
    std::string value = in.arg(120);
    std::string path = fuzz_file("config", in.rest);
    const config_result r = config_set(path.c_str(), name.c_str(), value.c_str());
    std::string after = fuzz_read(path);
    if (r.what != outcome::done) {
        if (after != in.rest)
            __builtin_trap();
        return 0;
    }
    std::string line = name + "=" + value + "\n";
    if (after.rfind(line, 0) != 0 && after.find("\n" + line) == after.npos)
        __builtin_trap();
    return 0;
}
