#include "loop_device.h"

#include "sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

loop_device::loop_device(const std::string &image, bool read_only)
{
    std::string cmd = std::string("losetup -f --show ") + (read_only ? "-r " : "") +
                      shell_quote(image) + " 2>/dev/null";
    command_output r = run_command(cmd);
    if (r.status != 0)
        return;
    path_ = r.out.substr(0, r.out.find_first_of("\r\n"));
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
