// Lookup of one setting in configuration text.
#include "confstore.h"
#include "config_line.h"
#include "messages.h"

#include "piece_reader.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>

int config_get(const char *path, const char *name, std::span<char> value)
{
    distrust why;
    unique_fd fd(trusted_open(path, O_RDONLY, 0, &why));
    if (!fd) {
        if (!refused(path, why))
            std::printf(msg_open_failed_fmt, path, std::strerror(errno));
        return -1;
    }
    piece_reader in(fd.get());
    char piece[config_piece_max + 1];
    size_t n;
    for (bool rest_of_line = false; (n = in.next(piece)) > 0; rest_of_line = in.goes_on()) {
        // Only a line's first piece is judged: a long value is cut to it.
        const config_value v = rest_of_line ? config_value{} : config_line_value({piece, n}, name);
        if (!v.found)
            continue;
        config_deliver({piece, n}, v, value);
        return 1;
    }
    return 0;
}
