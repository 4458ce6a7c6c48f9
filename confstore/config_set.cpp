// Setting one value in configuration text.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"
#include "out_buffer.h"
#include "piece_reader.h"
#include "replace_file.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

namespace {

// A name or value that would break the one-line-per-setting text: a newline
// would slip in further settings, "=" would move the name's end, and a line
// longer than one piece would be cut by every reader of the text.
const char *refusal_for(const char *name, const char *value)
{
    if (!*name || std::strpbrk(name, "=\n"))
        return msg_bad_name;
    if (std::strchr(value, '\n'))
        return msg_bad_value;
    if (std::strlen(name) + std::strlen(value) + 2 > size_t{config_piece_max})
        return msg_long_line;
    return nullptr;
}

struct rewrite {
    out_buffer &out;
    std::string_view name, value;
    bool replaced = false, changed = false;

    void put_setting()
    {
        out.put(name);
        out.put("=");
        out.put(value);
        out.put("\n");
    }

    // A line whose text before its first "=" is exactly the name is
    // replaced; everything else is copied. True when `p`, a line's first
    // piece, is replaced, so the rest of its line goes too.
    bool piece(std::string_view p)
    {
        size_t eq = p.find('=');
        if (eq == p.npos || std::string_view(p.data(), eq) != name) {
            out.put(p);
            return false;
        }
        replaced = true;
        // name=value\n already: the line stays as it is.
        if (p.size() != eq + 1 + value.size() + 1 || p.back() != '\n' ||
            std::string_view(p.data() + eq + 1, value.size()) != value)
            changed = true;
        put_setting();
        return true;
    }
};

} // namespace

int config_set(const char *path, const char *name, const char *value)
{
    if (const char *refusal = refusal_for(name, value)) {
        std::fputs(refusal, stdout);
        return 3;
    }
    file_lock lock(path);
    if (lock_refused(lock, path))
        return 3;
    unique_fd fd(trusted_open(path, O_RDWR));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        if (!refused_link(path))
            std::fputs(msg_config_failed, stdout);
        return 0;
    }
    // What a killed writer left behind goes now, under the lock.
    remove_stale_replacements(path);
    file_replacement next;
    if (next.begin(path, &st) != 0) {
        std::fputs(msg_config_failed, stdout);
        return 2;
    }
    out_buffer out(next.fd());
    rewrite rw{out, name, value};
    piece_reader in(fd.get());
    char piece[config_piece_max + 1];
    char last = '\n';
    bool rest_of_line = false, dropped = false;
    while (size_t n = in.next(piece)) {
        if (!rest_of_line)
            dropped = rw.piece(std::string_view(piece, n));
        else if (!dropped)
            out.put(std::string_view(piece, n));
        rest_of_line = in.goes_on();
        last = piece[n - 1];
    }
    if (!rw.replaced) {
        // A last line without its newline is ended before the new line.
        if (last != '\n')
            out.put("\n");
        rw.put_setting();
        rw.changed = true;
    }
    if (in.failed() || out.flush() != 0 || (rw.changed && next.commit() != 0)) {
        std::fputs(msg_config_failed, stdout);
        return 2;
    }
    return 0;
}
