// Trimming of white space, as every reader of configuration text applies it.
#include "confstore.h"
#include "messages.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

// White space as isspace() knows it in the C locale, whatever the locale.
bool config_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

namespace {

// The argument checks report in the words the device's logs have always
// shown, whatever the build's NDEBUG setting and whichever C library's own
// assertion report (glibc's words; musl words it otherwise). The line is
// that of the check that failed.
// (The compiler's own line of the call: a whole source location would bring
// its file and function names along.)
void check(bool ok, const char *condition, const char *function, int line = __builtin_LINE())
{
    if (ok)
        return;
    put_format(std_err(), msg_assertion_fmt, program_invocation_short_name, line, function,
               condition);
    std::abort();
}

void check_args(const char *out, const char *in, const char *function)
{
    check(in != nullptr, "szInput != ((void *)0)", function);
    check(out != nullptr, "szOutput != ((void *)0)", function);
    check(out != in, "szOutput != szInput", function);
}

// The first byte of `s` that is not white space.
const char *skip_leading(const char *s)
{
    while (*s && config_space(*s))
        ++s;
    return s;
}

} // namespace

char *l_trim(char *szOutput, const char *szInput)
{
    check_args(szOutput, szInput, "l_trim");
    szInput = skip_leading(szInput);
    std::memmove(szOutput, szInput, std::strlen(szInput) + 1);
    return szOutput;
}

char *r_trim(char *szOutput, const char *szInput)
{
    check_args(szOutput, szInput, "r_trim");
    size_t n = std::strlen(szInput);
    while (n > 0 && config_space(szInput[n - 1]))
        --n;
    std::memmove(szOutput, szInput, n);
    szOutput[n] = '\0';
    return szOutput;
}

// Both sides: what r_trim leaves of the text from its first byte that is
// not white space.
char *a_trim(char *szOutput, const char *szInput)
{
    check(szInput != nullptr, "szInput != ((void *)0)", "a_trim");
    check(szOutput != nullptr, "szOutput != ((void *)0)", "a_trim");
    // The device's logs have always named l_trim for this one.
    check(szOutput != szInput, "szOutput != szInput", "l_trim");
    return r_trim(szOutput, skip_leading(szInput));
}
