#include "flaky_flash.h"

#include "sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

flaky_flash::flaky_flash(const std::string &image, const std::string &work,
                         const std::vector<std::pair<size_t, size_t>> &unreadable)
    : dir_(work + "/flaky")
{
    if (::mkdir(dir_.c_str(), 0700) != 0)
        return;
    std::string cmd = shell_quote(FLAKY_FLASH) + " " + shell_quote(image) + " " + shell_quote(dir_);
    for (const auto &[from, to] : unreadable)
        cmd += " " + std::to_string(from) + "-" + std::to_string(to);
    if (std::system(cmd.c_str()) == 0)
        path_ = dir_ + "/flash";
}

flaky_flash::~flaky_flash()
{
    if (!path_.empty() && ::umount2(dir_.c_str(), 0) != 0 && ::umount2(dir_.c_str(), MNT_DETACH) != 0)
        std::perror("flaky_flash: umount");
    ::rmdir(dir_.c_str());
}
