// Setting one value in configuration text.
#include "confstore.h"
#include "config_line.h"

#include "file_lock.h"
#include "out_buffer.h"
#include "replace_file.h"
#include "text_reader.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
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
outcome refusal_for(const char *name, const char *value)
{
    if (!*name || std::strpbrk(name, "=\n"))
        return outcome::bad_name;
    if (config_space(*name) || std::strpbrk(name, " \t|^"))
        return outcome::ambiguous_name;
    if (std::strchr(value, '\n'))
        return outcome::bad_value;
    if (std::strlen(name) + std::strlen(value) + 2 > text_piece_max)
        return outcome::long_line;
    return outcome::done;
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

    // A line that the lookup reads as the name is replaced whole, however
    // long; everything else is copied.
    void line(const text_line &line)
    {
        const std::string_view l = line.bytes;
        if (!config_line_value(line.first_piece(), name).found) {
            out.put(l);
            return;
        }
        replaced = true;
        // name=value\n already: the line stays as it is.
        const size_t eq = name.size();
        if (l.size() != eq + 1 + value.size() + 1 || l.back() != '\n' || !l.starts_with(name) ||
            l[eq] != '=' || std::string_view(l.data() + eq + 1, value.size()) != value)
            changed = true;
        put_setting();
    }
};

} // namespace

namespace {
config_result set_locked(const char *path, const char *name, const char *value, const file_lock &lock);
}

config_result config_set(const char *path, const char *name, const char *value)
{
    if (outcome refusal = refusal_for(name, value); refusal != outcome::done)
        return {refusal, path};
    file_lock lock(path);
    config_result r = set_locked(path, name, value, lock);
    std::memcpy(r.lock_left, lock.left(), sizeof r.lock_left);
    return r;
}

namespace {

config_result set_locked(const char *path, const char *name, const char *value, const file_lock &lock)
{
    if (!lock.held())
        return {outcome::no_lock, path, -lock.error()};
    distrust why;
    const int opened = trusted_open(path, O_RDWR, 0, &why);
    unique_fd fd(opened);
    struct stat st;
    if (!fd)
        return {outcome::unopened, path, -opened, why};
    if (::fstat(fd.get(), &st) != 0)
        return {outcome::unopened, path, errno};
    // What a killed writer left behind goes now, under the lock.
    remove_stale_replacements(path);
    file_replacement next;
    if (int rc = next.begin(path, &st); rc != 0)
        return {outcome::unreplaced, path, -rc};
    out_buffer out(next.fd());
    rewrite rw{out, name, value};
    text_reader in(fd.get());
    char last = '\n';
    for (text_line l; !(l = in.next_line()).bytes.empty(); last = l.bytes.back())
        rw.line(l);
    if (!rw.replaced) {
        // A last line without its newline is ended before the new line.
        if (last != '\n')
            out.put("\n");
        rw.put_setting();
        rw.changed = true;
    }
    if (int rc = in.error())
        return {outcome::unreplaced, path, -rc};
    int rc = out.flush();
    if (rc == 0 && rw.changed)
        rc = next.commit();
    if (rc != 0)
        return {outcome::unreplaced, path, -rc};
    return {outcome::done, path};
}

} // namespace
