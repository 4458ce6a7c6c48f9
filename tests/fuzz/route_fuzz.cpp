// Routing-table parsing over arbitrary text: the answer is always a
// dotted quad that ends inside its buffer, and a line is read as the
// scanner read it.
#include "route.h"

#include "scanned_route.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// True when a run of hexadecimal digits in `line` holds more than 32 bits:
// such a column is no address, where the scanner kept what its C library
// made of it.
bool holds_a_long_number(const char *line)
{
    for (const char *p = line; *p;) {
        if (!std::strchr("0123456789abcdefABCDEF", *p)) {
            ++p;
            continue;
        }
        while (*p == '0')
            ++p;
        size_t digits = 0;
        for (; *p && std::strchr("0123456789abcdefABCDEF", *p); ++p)
            ++digits;
        if (digits > 8)
            return true;
    }
    return false;
}

void same_as_the_scanner(const uint8_t *data, size_t size, const char *ifname, int is_ppp)
{
    char line[256];
    size_t n = 0;
    while (n < size && n < sizeof line - 1 && data[n] != '\n')
        ++n;
    std::memcpy(line, data, n);
    line[n] = '\0';
    if (holds_a_long_number(line))
        return;
    in_addr want{}, got{};
    const bool accepted = scanned_route_answer(line, ifname, is_ppp, want);
    if (route_line_answer(line, ifname, is_ppp, got) != accepted ||
        (accepted && got.s_addr != want.s_addr))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // First byte: which interface and mode are asked for.
    static const char *const names[] = {"ath0", "ppp0", "br0", "eth1"};
    const char *ifname = names[data[0] & 3];
    int is_ppp = (data[0] >> 2) & 1;
    same_as_the_scanner(data + 1, size - 1, ifname, is_ppp);
    static int table = memfd_create("routes", MFD_CLOEXEC);
    if (ftruncate(table, 0) != 0 ||
        pwrite(table, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1) ||
        lseek(table, 0, SEEK_SET) != 0)
        __builtin_trap();
    char out[16];
    std::memset(out, 'X', sizeof out);
    gateway_from_routes(table, out, ifname, is_ppp);
    in_addr a;
    if (!std::memchr(out, '\0', sizeof out) || inet_pton(AF_INET, out, &a) != 1)
        __builtin_trap();
    return 0;
}
