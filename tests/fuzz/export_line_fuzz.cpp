// The export of one line over arbitrary bytes: a written line is one shell
// assignment whose value, unquoted as a shell would, is the setting's value.
#include "confexport.h"
#include "out_buffer.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// What a POSIX shell assigns for the text after "=": plain bytes, or
// single-quoted runs joined by \' escapes.
bool unquote(std::string_view s, std::string &value)
{
    while (!s.empty()) {
        if (s[0] == '\'') {
            size_t end = s.find('\'', 1);
            if (end == s.npos)
                return false;
            value.append(s.data() + 1, end - 1);
            s.remove_prefix(end + 1);
        } else if (s[0] == '\\' && s.size() > 1) {
            value += s[1];
            s.remove_prefix(2);
        } else {
            value += s[0];
            s.remove_prefix(1);
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int fd = memfd_create("export", MFD_CLOEXEC);
    std::string_view line(reinterpret_cast<const char *>(data), size);
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0)
        __builtin_trap();
    out_buffer out(fd);
    export_step step = export_line(line, out);
    if (out.flush() != 0)
        __builtin_trap();
    std::string got(static_cast<size_t>(lseek(fd, 0, SEEK_CUR)), '\0');
    if (pread(fd, got.data(), got.size(), 0) != static_cast<ssize_t>(got.size()))
        __builtin_trap();
    if (step != export_step::written) {
        if (!got.empty())
            __builtin_trap();
        return 0;
    }
    // One line, ending in its newline, starting with the line's own name.
    std::string_view text = line_text(line);
    if (got.empty() || got.back() != '\n' || got.find('\n') != got.size() - 1)
        __builtin_trap();
    size_t eq = text.find('=');
    if (eq == text.npos || got.compare(0, eq + 1, text.data(), eq + 1) != 0)
        __builtin_trap();
    std::string_view want = text.substr(eq + 1);
    if (!want.empty() && want.back() == '\n')
        want.remove_suffix(1);
    std::string value;
    if (!unquote(std::string_view(got).substr(eq + 1, got.size() - eq - 2), value) || value != want)
        __builtin_trap();
    return 0;
}
