// The whole export: the working configuration read line by line, the shell
// copy written as a new file beside the old one and renamed over it at the
// end, so a script that sources it never meets half a file.
#include "confexport.h"
#include "messages.h"

#include "out_buffer.h"
#include "replace_file.h"
#include "std_streams.h"
#include "text_reader.h"
#include "trusted_open.h"
#include "unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Runs of confexport are not serialised: a temporary of the shell copy is
// a killed run's only once it has not been written for a minute.
constexpr int stale_temporary_s = 60;

void tell_reason(const char *action, const char *path, int err,
                 distrust why = distrust::none)
{
    put_format(std_err(), msg_reason_fmt, action, path,
               why != distrust::none ? distrust_text(why) : std::strerror(err));
}

int fail(out_buffer &notices, const char *action, const char *path, int err,
         distrust why = distrust::none)
{
    notices.put(msg_failed);
    tell_reason(action, path, err, why);
    return -1;
}

// A shell copy of our own keeps its permissions. Whatever else stands in
// its place in the shared /tmp (another user's file, a link, an empty
// directory) lends nothing to the file that root's scripts will source,
// and is replaced.
const struct stat *own_file(const char *path, struct stat &st)
{
    return ::lstat(path, &st) == 0 && own_regular(st) ? &st : nullptr;
}

// Converts the lines of `in` up to the end of the text. 0, or -errno.
int convert(int in, out_buffer &out, out_buffer &notices)
{
    text_reader lines(in);
    std::string_view line;
    while (!(line = lines.next_line().bytes).empty()) {
        export_step step = export_line(line, out);
        if (step == export_step::secret)
            put_format(notices, msg_secret_fmt, static_cast<int>(line_text(line).size()),
                       line.data());
        else if (step == export_step::end)
            return 0;
    }
    return lines.error();
}

} // namespace

int export_config(const char *from, const char *to, out_buffer &notices)
{
    remove_stale_replacements(to, stale_temporary_s);
    struct stat st;
    file_replacement copy;
    if (int rc = copy.begin(to, own_file(to, st)); rc != 0)
        return fail(notices, "creating a file beside", to, -rc);
    out_buffer out(copy.fd());
    distrust why;
    const int opened = trusted_open(from, O_RDONLY, 0, &why);
    unique_fd in(opened);
    if (in) {
        if (int rc = convert(in.get(), out, notices); rc != 0)
            return fail(notices, "reading", from, -rc);
    } else if (why != distrust::none) {
        return fail(notices, "reading", from, 0, why);
    } else if (opened == -ENOENT) {
        // No working configuration yet: the shell copy is empty, as always.
        tell_reason("reading", from, ENOENT);
    } else {
        return fail(notices, "reading", from, -opened);
    }
    if (int rc = out.flush(); rc != 0)
        return fail(notices, "writing", to, -rc);
    // /tmp does not outlive a restart, so nothing is gained by syncing it.
    if (int rc = copy.commit(durability::unsynced); rc != 0)
        return fail(notices, "replacing", to, -rc);
    return 0;
}
