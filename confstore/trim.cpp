// Trimming of white space, as every reader of configuration text applies it.
#include "confstore.h"
#include "messages.h"

#include <cerrno>
#include <cstdio>
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
// assertion report (glibc's words; musl words it otherwise).
void check(bool ok, const char *condition, const char *function)
{
    if (ok)
        return;
    std::fprintf(stderr, msg_assertion_fmt,
                 program_invocation_short_name, __LINE__, function, condition);
    std::abort();
}

void check_args(const char *out, const char *in, const char *function)
{
    check(in != nullptr, "szInput != ((void *)0)", function);
    check(out != nullptr, "szOutput != ((void *)0)", function);
    check(out != in, "szOutput != szInput", function);
}

// Cuts trailing white space off `s` in place.
void cut_trailing(char *s)
{
    size_t n = std::strlen(s);
    while (n > 0 && config_space(s[n - 1]))
        --n;
    s[n] = '\0';
}

} // namespace

char *l_trim(char *szOutput, const char *szInput)
{
    check_args(szOutput, szInput, "l_trim");
    while (*szInput && config_space(*szInput))
        ++szInput;
    std::memmove(szOutput, szInput, std::strlen(szInput) + 1);
    return szOutput;
}

char *r_trim(char *szOutput, const char *szInput)
{
    check_args(szOutput, szInput, "r_trim");
    std::memmove(szOutput, szInput, std::strlen(szInput) + 1);
    cut_trailing(szOutput);
    return szOutput;
}

char *a_trim(char *szOutput, const char *szInput)
{
    check(szInput != nullptr, "szInput != ((void *)0)", "a_trim");
    check(szOutput != nullptr, "szOutput != ((void *)0)", "a_trim");
    l_trim(szOutput, szInput);
    cut_trailing(szOutput);
    return szOutput;
}
