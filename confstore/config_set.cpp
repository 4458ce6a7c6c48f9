// Setting one value in configuration text.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"
#include "line_reader.h"
#include "out_buffer.h"
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
    // replaced whole, however long; everything else is copied.
    void line(std::string_view l)
    {
        size_t eq = l.find('=');
        if (eq == l.npos || std::string_view(l.data(), eq) != name) {
            out.put(l);
            return;
        }
        replaced = true;
        // name=value\n already: the line stays as it is.
        if (l.size() != eq + 1 + value.size() + 1 || l.back() != '\n' ||
            std::string_view(l.data() + eq + 1, value.size()) != value)
            changed = true;
        put_setting();
    }
};

// The lookup reads the same pieces: both start their lines at the same bytes.
static_assert(line_piece_max == config_piece_max);

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
    line_reader in(fd.get());
    char last = '\n';
    for (std::string_view l; !(l = in.next()).empty(); last = l.back())
        rw.line(l);
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
