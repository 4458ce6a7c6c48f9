#include "device_libc.h"

#include <cerrno>
#include <cstring>

std::string device_error_text(int err)
{
#ifdef DEVICE_LIBC_MUSL
    // musl's words where they are not glibc's, for the errors that the
    // programs' file and flash work can meet.
    struct text { int err; const char *words; };
    static const text musl[] = {
        {EIO, "I/O error"},
        {EBUSY, "Resource busy"},
        {ELOOP, "Symbolic link loop"},
    };
    for (const text &t : musl)
        if (t.err == err)
            return t.words;
#endif
    return std::strerror(err);
}
