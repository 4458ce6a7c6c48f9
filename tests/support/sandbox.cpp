#include "sandbox.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef TEST_WORK_ROOT
#error "TEST_WORK_ROOT must name a scratch directory outside /tmp"
#endif

namespace {

std::string bin_dir()
{
    const char *env = std::getenv("AP_TEST_BIN");  // e.g. emulator wrappers
    return env && *env ? env : BIN_DIR;
}

} // namespace

std::string shell_quote(const std::string &s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string make_work_dir()
{
    ::mkdir(TEST_WORK_ROOT, 0755);
    std::string templ = std::string(TEST_WORK_ROOT) + "/run.XXXXXX";
    if (!::mkdtemp(templ.data()))
        throw std::runtime_error("mkdtemp " + templ);
    return templ;
}

std::string sandbox::work()
{
    if (work_.empty())
        work_ = make_work_dir();
    return work_;
}

std::string sandbox_result::file(const std::string &path) const
{
    auto it = files.find(path);
    return it != files.end() && it->second ? *it->second : "<missing>";
}

bool sandbox_result::exists(const std::string &path) const
{
    auto it = files.find(path);
    return it != files.end() && it->second.has_value();
}

sandbox_result sandbox::run(const std::string &script)
{
    const std::string w = work();
    // Files placed and scripts run under the device's usual umask, whatever
    // the test's: a placed file that others may write is not root's own.
    std::string driver = "set -u\numask 022\nW=" + shell_quote(w) + "\n";
    int n = 0;
    for (const auto &[path, bytes] : files) {
        std::string in = w + "/in." + std::to_string(n++);
        write_host_file(in, bytes);
        driver += "mkdir -p \"$(dirname " + shell_quote(path) + ")\" && cat " +
                  shell_quote(in) + " > " + shell_quote(path) + "\n";
    }
    write_host_file(w + "/script.sh", script);
    driver += "rm -f \"$W/status\"\ncd /tmp\n"
              "sh \"$W/script.sh\" > \"$W/stdout\" 2> \"$W/stderr\"\n"
              "echo $? > \"$W/status\"\n";
    n = 0;
    for (const auto &path : fetch) {
        std::string out = w + "/out." + std::to_string(n++);
        driver += "rm -f " + shell_quote(out) + "; if [ -e " + shell_quote(path) +
                  " ]; then cat " + shell_quote(path) + " > " + shell_quote(out) + "; fi\n";
    }
    write_host_file(w + "/driver.sh", driver);

    std::string cmd = shell_quote(SIM_SANDBOX) + " --bin " + shell_quote(bin_dir()) +
                      " --keep " + shell_quote(w);
    if (!flash.empty())
        cmd += " --flash " + shell_quote(flash);
    if (!defaults.empty())
        cmd += " --defaults " + shell_quote(defaults);
    cmd += " -- sh " + shell_quote(w + "/driver.sh") + " < /dev/null";

    sandbox_result r;
    int raw = std::system(cmd.c_str());
    r.sandbox_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    std::string st = read_host_file(w + "/status");
    if (!st.empty())
        r.status = std::atoi(st.c_str());
    r.out = read_host_file(w + "/stdout");
    r.err = read_host_file(w + "/stderr");
    n = 0;
    for (const auto &path : fetch) {
        std::string out = w + "/out." + std::to_string(n++);
        if (::access(out.c_str(), F_OK) == 0)
            r.files[path] = read_host_file(out);
        else
            r.files[path] = std::nullopt;
    }
    return r;
}
