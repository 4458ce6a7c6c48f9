// Files and commands on the host side of a test, outside the device.
#pragma once

#include <string>
#include <vector>

std::string read_host_file(const std::string &path);
void write_host_file(const std::string &path, const std::string &bytes);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> list_dir(const std::string &path);

struct command_output {
    int status;       // exit status, -1 when the command did not exit
    std::string out;  // its standard output
};
// Runs a shell command line and collects its standard output.
command_output run_command(const std::string &cmd);
