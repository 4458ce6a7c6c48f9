// confstore: one command on the device's configuration per run.
//
//   confstore c | d | i | s        commit, reset to defaults, restore, show
//   confstore r NAME               print one value
//   confstore w NAME VALUE         set one value
//   confstore y FILE PATTERN NAME  carry a value into another file
//
// Only the first character of the command word counts. Every run exits with
// status 0; callers learn of failures from the printed text. -h or --help
// as the command word prints the usage instead (a word starting with '-'
// is no command, so no caller's command line changes meaning).
#include "confstore.h"
#include "messages.h"

#include "file_lock.h"
#include "io.h"
#include "trusted_open.h"
#include "unique_fd.h"
#include "usage.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How many arguments (the command word included) each command takes;
// y accepts and ignores more.
bool argc_fits(char cmd, int args)
{
    switch (cmd) {
    case 'c': case 'd': case 'i': case 's': return args == 1;
    case 'r': return args == 2;
    case 'w': return args == 3;
    case 'y': return args >= 4;
    default: return false;
    }
}

void show_config()
{
    distrust why;
    unique_fd fd(trusted_open(working_config_path, O_RDONLY, 0, &why));
    if (!fd) {
        if (why != distrust::none)
            tell_refusal(working_config_path, why);
        else
            std_out().put(msg_show_failed);
        return;
    }
    // The whole file, up to a zero byte if it holds one, then a newline.
    char text[8192];
    ssize_t n;
    while ((n = read_full(fd.get(), text)) > 0) {
        size_t len = strnlen(text, static_cast<size_t>(n));
        std_out().put(std::string_view(text, len));
        if (len < static_cast<size_t>(n) || static_cast<size_t>(n) < sizeof text)
            break;
    }
    std_out().put("\n");
}

// True when `path` names the working configuration, by its name or as the
// same file (the working configuration as root would use it: not through
// another user's link).
bool is_working_config(const char *path)
{
    if (std::strcmp(path, working_config_path) == 0)
        return true;
    unique_fd work(trusted_open(working_config_path, O_RDONLY));
    struct stat a, b;
    return work && ::fstat(work.get(), &b) == 0 && ::stat(path, &a) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// What the lookup says when it cannot read the working configuration.
void tell_lookup(const config_result &r)
{
    if (r.what != outcome::unopened)
        return;
    if (r.why != distrust::none)
        tell_refusal(r.path, r.why);
    else
        put_format(std_out(), msg_open_failed_fmt, r.path, std::strerror(r.err));
}

// r: the value, or an empty line when there is none.
void read_value(const char *name, std::span<char> value)
{
    tell_lookup(config_get(working_config_path, name, value));
    put_format(std_out(), "%s\n", value.data());
}

// Why w refuses a name or value, or nullptr for an outcome that is no such
// refusal.
const char *setting_refusal(outcome what)
{
    switch (what) {
    case outcome::bad_name: return msg_bad_name;
    case outcome::ambiguous_name: return msg_ambiguous_name;
    case outcome::bad_value: return msg_bad_value;
    case outcome::long_line: return msg_long_line;
    default: return nullptr;
    }
}

// w: every run that does not set the value prints "OPEN CONFIG FALID", the
// one line callers look for, with the reason on standard error.
void write_value(const char *name, const char *value)
{
    const config_result r = config_set(working_config_path, name, value);
    tell_lock_left(working_config_path, r.lock_left);
    if (r.what == outcome::done)
        return;
    std_out().put(msg_config_failed);
    (void)std_out().flush();
    if (const char *why = setting_refusal(r.what))
        std_err().put(why);
    else if (r.what == outcome::no_lock)
        tell_no_lock(r.path, r.err, std_err());
    else if (r.why != distrust::none)
        tell_refusal(r.path, r.why, std_err());
    else
        put_format(std_err(), msg_set_failed_fmt, r.path, std::strerror(r.err));
}

// What y says of the patch: a refused file on standard output, a file not
// replaced on standard error.
void tell_patch(const config_result &r)
{
    if (r.what == outcome::unopened && r.why != distrust::none)
        tell_refusal(r.path, r.why);
    else if (r.what == outcome::unreplaced || r.what == outcome::tmp_unreplaced)
        put_format(std_err(), msg_patch_failed_fmt, r.path,
                   r.what == outcome::tmp_unreplaced ? patch_tmp_suffix : "",
                   std::strerror(r.err));
}

// y: the value of `name` carried into `file`. The working configuration is
// changed under its lock, as by w, so that no change of another run is lost.
void carry_value(const char *file, const char *pattern, const char *name,
                 std::span<char> value)
{
    if (!is_working_config(file)) {
        // A working configuration that is not root's own gives nothing to
        // carry: the file keeps its lines rather than losing their values.
        const config_result got = config_get(working_config_path, name, value);
        tell_lookup(got);
        if (got.what == outcome::unopened && got.why != distrust::none)
            return;
        tell_patch(patch_lines(file, pattern, value.data()));
        return;
    }
    file_lock lock(working_config_path);
    tell_lock(lock, working_config_path);
    if (!lock.held())
        return;
    tell_lookup(config_get(working_config_path, name, value));
    tell_patch(patch_lines(file, pattern, value.data(), patch_target::working));
}

void run(char cmd, char **args, std::span<char> value)
{
    switch (cmd) {
    case 'c': flash_commit(); break;
    case 'd': flash_reset(); break;
    case 'i': flash_restore(); break;
    case 's': show_config(); break;
    case 'r': read_value(args[0], value); break;
    case 'w': write_value(args[0], args[1]); break;
    case 'y': carry_value(args[0], args[1], args[2], value); break;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (help_asked(argc, argv))
        return show_usage(msg_usage);
    char value[value_buffer_size] = {};
    char cmd = argc > 1 ? argv[1][0] : '\0';
    if (!argc_fits(cmd, argc - 1))
        std_out().put(msg_refusal);
    else
        run(cmd, argv + 2, value);
    end_std_out(msg_stdout_failed);
    return 0;
}
