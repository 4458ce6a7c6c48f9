// Setting one value in configuration text.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"
#include "line_reader.h"
#include "out_buffer.h"
#include "replace_file.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

namespace {

// A name or value that would break the one-line-per-setting text: a newline
// would slip in further settings, "=" would move the name's end, and a line
// longer than one piece would be cut by every reader of the text. A name
// the lookup would read as another (it skips leading white space and ends
// a name at a blank, a tab, "|" or "^") would set one setting and read
// back as another.
const char *refusal_for(const char *name, const char *value)
{
    if (!*name || std::strpbrk(name, "=\n"))
        return msg_bad_name;
    if (std::strchr(" \t\v\f\r", *name) || std::strpbrk(name, " \t|^"))
        return msg_ambiguous_name;
    if (std::strchr(value, '\n'))
        return msg_bad_value;
    if (std::strlen(name) + std::strlen(value) + 2 > size_t{config_piece_max})
        return msg_long_line;
    return nullptr;
}

// "OPEN CONFIG FALID", the line callers look for, then the reason on
// standard error. Gives `rc`.
int cannot_change(const char *path, int rc, int err, distrust why = distrust::none)
{
    std::fputs(msg_config_failed, stdout);
    std::fflush(stdout);
    if (!refused(path, why, stderr))
        std::fprintf(stderr, msg_set_failed_fmt, path, std::strerror(err));
    return rc;
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
    if (!lock.held()) {
        std::fputs(msg_config_failed, stdout);
        std::fflush(stdout);
        lock_refused(lock, path, stderr);
        return 3;
    }
    distrust why;
    unique_fd fd(trusted_open(path, O_RDWR, 0, &why));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return cannot_change(path, 0, errno, why);
    // What a killed writer left behind goes now, under the lock.
    remove_stale_replacements(path);
    file_replacement next;
    if (int rc = next.begin(path, &st); rc != 0)
        return cannot_change(path, 2, -rc);
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
    if (int rc = in.error())
        return cannot_change(path, 2, -rc);
    int rc = out.flush();
    if (rc == 0 && rw.changed)
        rc = next.commit();
    return rc == 0 ? 0 : cannot_change(path, 2, -rc);
}
