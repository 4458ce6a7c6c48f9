// A writer of a file that holds its lock as the commands do, with a pause
// inside its read-modify-write, so that a test can act at a known moment:
//
//   lock_holder PATH NAME=VALUE READY GO
//
// takes file_lock on PATH, reads PATH, creates READY, waits until GO
// exists, then puts the text it read, with the line NAME=VALUE appended,
// in place. Status 0 when it did; 1 and a line on standard error when not.
#include "file_lock.h"
#include "heap_text.h"
#include "replace_file.h"
#include "unique_fd.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 5)
        return 2;
    const char *path = argv[1], *line = argv[2], *ready = argv[3], *go = argv[4];
    file_lock lock(path);
    if (!lock.held()) {
        std::fprintf(stderr, "lock_holder: no lock: %s\n", std::strerror(-lock.error()));
        return 1;
    }
    unique_fd in(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat st;
    heap_text text;
    char chunk[4096];
    ssize_t n = 0;
    while (in && (n = ::read(in.get(), chunk, sizeof chunk)) > 0)
        if (text.append(std::span<const char>(chunk, static_cast<size_t>(n))) != 0)
            return 1;
    if (!in || n < 0 || ::fstat(in.get(), &st) != 0) {
        std::perror("lock_holder: read");
        return 1;
    }
    unique_fd mark(::open(ready, O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    const timespec pause = {0, 10 * 1000000L};
    while (::access(go, F_OK) != 0)
        ::nanosleep(&pause, nullptr);
    if (text.append(std::string_view(line)) != 0 || text.append(std::string_view("\n")) != 0)
        return 1;
    if (int rc = replace_file(path, text.bytes(), &st); rc != 0) {
        std::fprintf(stderr, "lock_holder: replace: %s\n", std::strerror(-rc));
        return 1;
    }
    return 0;
}
