// Routing-table parsing over arbitrary text: the answer is always a
// dotted quad that ends inside its buffer.
#include "route.h"

#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // First byte: which interface and mode are asked for.
    static const char *const names[] = {"ath0", "ppp0", "br0", "eth1"};
    const char *ifname = names[data[0] & 3];
    int is_ppp = (data[0] >> 2) & 1;
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
