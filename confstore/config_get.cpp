// Lookup of one setting in configuration text.
#include "confstore.h"
#include "config_line.h"

#include "text_reader.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <fcntl.h>

config_result config_get(const char *path, const char *name, std::span<char> value)
{
    distrust why;
    const int opened = trusted_open(path, O_RDONLY, 0, &why);
    unique_fd fd(opened);
    if (!fd)
        return {outcome::unopened, path, -opened, why};
    text_reader in(fd.get());
    const config_value v = config_find(in, name);
    if (!v.found)
        return {outcome::absent, path};
    config_deliver(v, value);
    return {outcome::done, path};
}
