#include "monotonic.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

#ifdef SYS_clock_gettime32  // (musl's name for it on 32-bit systems)
constexpr long old_clock_gettime = SYS_clock_gettime32;
#elif defined(SYS_clock_gettime64)
constexpr long old_clock_gettime = SYS_clock_gettime;
#endif

} // namespace

timespec clock_now(clockid_t id)
{
    timespec t{-1, 0};
#ifdef SYS_clock_gettime64
    long long k[2];
    if (::syscall(SYS_clock_gettime64, id, k) == 0) {
        t.tv_sec = static_cast<time_t>(k[0]);
        t.tv_nsec = static_cast<long>(k[1]);
        return t;
    }
    long o[2];
    if (::syscall(old_clock_gettime, id, o) == 0) {
        t.tv_sec = o[0];
        t.tv_nsec = o[1];
    }
#else
    if (::clock_gettime(id, &t) != 0)
        t = {-1, 0};
#endif
    return t;
}

