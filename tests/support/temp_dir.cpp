#include "temp_dir.h"

#include "host_file.h"

#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>

temp_dir::temp_dir()
{
    // Under the build tree, never the host's /tmp.
    std::string templ = std::string(TEST_WORK_ROOT) + "/unit.XXXXXX";
    ::mkdir(TEST_WORK_ROOT, 0755);
    if (!::mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp");
    path_ = templ;
}

temp_dir::~temp_dir()
{
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
}

static std::string full(const temp_dir &d, const std::string &name)
{
    return name.starts_with("/") ? name : d / name;
}

// A new file as root's programs make their own (0644), whatever the test's
// umask: one that others may write is not taken for theirs.
void temp_dir::put(const std::string &name, const std::string &bytes) const
{
    mode_t mask = ::umask(022);
    write_host_file(full(*this, name), bytes);
    ::umask(mask);
}

std::string temp_dir::get(const std::string &name) const
{
    return read_host_file(full(*this, name));
}

std::vector<std::string> temp_dir::names() const
{
    return list_dir(path_);
}
