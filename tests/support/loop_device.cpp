#include "loop_device.h"

#include "device.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

loop_device::loop_device(const std::string &image, bool read_only)
{
    std::string cmd = std::string("losetup -f --show ") + (read_only ? "-r " : "") +
                      shell_quote(image) + " 2>/dev/null";
    FILE *p = ::popen(cmd.c_str(), "r");
    if (!p)
        return;
    char line[256] = {};
    if (std::fgets(line, sizeof line, p)) {
        path_ = line;
        while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r'))
            path_.pop_back();
    }
    if (::pclose(p) != 0)
        path_.clear();
}

loop_device::~loop_device()
{
    if (path_.empty())
        return;
    std::string cmd = "losetup -d " + shell_quote(path_);
    if (std::system(cmd.c_str()) != 0)
        std::fprintf(stderr, "loop_device: could not detach %s\n", path_.c_str());
}

std::string loop_device::bytes() const
{
    return read_host_file(path_);
}

long long loop_device::sectors_written() const
{
    std::string name = path_.substr(path_.rfind('/') + 1);
    std::ifstream in("/sys/block/" + name + "/stat");
    long long field[7] = {};
    for (long long &f : field)
        if (!(in >> f))
            return -1;
    return field[6];
}

std::string make_image(size_t size, const std::string &head, char filler)
{
    std::string img(size, filler);
    img.replace(0, head.size(), head);
    return img;
}
