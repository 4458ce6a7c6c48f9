#include "host_file.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

std::string read_host_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_host_file(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> list_dir(const std::string &path)
{
    std::vector<std::string> names;
    DIR *d = ::opendir(path.c_str());
    while (dirent *e = d ? ::readdir(d) : nullptr) {
        std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    if (d)
        ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

command_output run_command(const std::string &cmd)
{
    command_output r{-1, ""};
    FILE *p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    int raw = ::pclose(p);
    r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}
