// Setting one value in configuration text.
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"
#include "out_buffer.h"
#include "piece_reader.h"
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
    if (in.failed())
        return cannot_change(path, 2, errno);
    int rc = out.flush();
    if (rc == 0 && rw.changed)
        rc = next.commit();
    return rc == 0 ? 0 : cannot_change(path, 2, -rc);
}
