// Trimming of white space, as every reader of configuration text applies it.
#include "confstore.h"

#include <cstring>

// The C library's assertion report; declared here because NDEBUG builds hide it.
extern "C" [[noreturn]] void __assert_fail(const char *assertion, const char *file,
                                           unsigned int line, const char *function) noexcept;

namespace {

// White space as isspace() knows it in the C locale, whatever the locale.
constexpr bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The argument checks report in the words the device's logs have always
// shown, whatever the build's NDEBUG setting.
void check(bool ok, const char *condition, const char *function)
{
    if (!ok)
        __assert_fail(condition, "confstore", __LINE__, function);
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
    while (n > 0 && is_space(s[n - 1]))
        --n;
    s[n] = '\0';
}

} // namespace

char *l_trim(char *szOutput, const char *szInput)
{
    check_args(szOutput, szInput, "l_trim");
    while (*szInput && is_space(*szInput))
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
