// The lookup over arbitrary text and names: no overrun, value always ends.
#include "confstore.h"
#include "fuzz_input.h"
#include "text_reader.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_input in(data, size);
    std::string name = in.arg(300);
    std::string path = fuzz_file("config", in.rest);
    char value[value_buffer_size] = {};
    const config_result r = config_get(path.c_str(), name.c_str(), value);
    if (r.what != outcome::done && r.what != outcome::absent)
        __builtin_trap();
    if (!std::memchr(value, '\0', sizeof value) || std::strlen(value) > text_piece_max)
        __builtin_trap();
    return 0;
}
