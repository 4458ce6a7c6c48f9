// The key update over arbitrary text: a stored setting always ends up as a
// whole line of its own that the lookup reads back, and a refused one
// changes nothing.
#include "confstore.h"
#include "fuzz_input.h"

#include <string>

namespace {

// What the lookup gives for `name` in a file holding `text`, or "<absent>".
std::string looked_up(const char *file, const std::string &text, const std::string &name)
{
    char value[value_buffer_size] = {};
    const config_result r = config_get(fuzz_file(file, text).c_str(), name.c_str(), value);
    return r.what == outcome::done ? value : "<absent>";
}

} // namespace

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
    // r reads what w wrote: the value of the line alone, as the lookup trims it.
    if (looked_up("config", after, name) != looked_up("alone", line, name))
        __builtin_trap();
    return 0;
}
