// Carrying a value into another text file of the device.
#include "confstore.h"

#include "out_buffer.h"
#include "replace_file.h"
#include "text_reader.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>

namespace {

// Every line whose text holds the pattern is replaced whole, however long:
// no part of it stays behind as a line of its own. The patched text goes
// to `a`, and to `b` when there is one.
int write_patched(int src, std::string_view pattern, std::string_view value,
                  out_buffer &a, out_buffer *b)
{
    text_reader in(src);
    for (std::string_view l; !(l = in.next_line().bytes).empty();) {
        const bool hit = line_text(l).find(pattern) != std::string_view::npos;
        for (out_buffer *o : {&a, b}) {
            if (!o)
                continue;
            if (hit) {
                o->put(pattern);
                o->put(value);
                o->put("\n");
            } else {
                o->put(l);
            }
        }
    }
    if (int rc = in.error())
        return rc;
    int rc = a.flush();
    int rc2 = b ? b->flush() : 0;
    return rc ? rc : rc2;
}

// An older pathTMP of the working configuration beside it, of our own
// making, would keep every setting, the key included, long after it
// changed. (In the sticky /tmp nobody else can replace a file of ours in
// between.)
void remove_own_tmp_file(const char *tmp_path)
{
    struct stat st;
    if (::lstat(tmp_path, &st) == 0 && own_regular(st))
        ::unlink(tmp_path);
}

} // namespace

config_result patch_lines(const char *path, const char *pattern, const char *value,
                          patch_target target)
{
    const bool working = target == patch_target::working;
    char tmp_path[PATH_MAX];
    if (format_into(tmp_path, "%s%s", path, patch_tmp_suffix) >= sizeof tmp_path)
        return {outcome::unreplaced, path, ENAMETOOLONG};
    // The target is any regular file the caller names; the working
    // configuration only as root's own.
    distrust why;
    unique_fd src(trusted_open(path, O_RDONLY, 0, &why, working ? owner::self : owner::any));
    struct stat st;
    const bool opened = src && ::fstat(src.get(), &st) == 0;
    if (opened && !S_ISREG(st.st_mode))
        why = distrust::not_regular;  // a device node is no text to patch
    if (why != distrust::none)
        return {outcome::unopened, path, 0, why};
    if (working)
        remove_own_tmp_file(tmp_path);
    if (!opened) {
        // A missing target is left alone; only its empty pathTMP appears.
        if (int rc = working ? 0 : replace_file(tmp_path, {}); rc != 0)
            return {outcome::tmp_unreplaced, path, -rc};
        return {outcome::done, path};
    }
    // Both files take the target's mode and owner: a patched file may hold a key.
    file_replacement next, tmp;
    int rc = next.begin(path, &st);
    if (rc == 0 && !working)
        rc = tmp.begin(tmp_path, &st);
    if (rc == 0) {
        out_buffer to_target(next.fd()), to_tmp(tmp.fd());
        rc = write_patched(src.get(), pattern, value, to_target, working ? nullptr : &to_tmp);
    }
    if (rc == 0 && !working && (rc = tmp.commit()) != 0)
        return {outcome::tmp_unreplaced, path, -rc};
    if (rc == 0)
        rc = next.commit();
    if (rc != 0)
        return {outcome::unreplaced, path, -rc};
    return {outcome::done, path};
}
