#include "fake_cfg.h"

#include "sandbox.h"

std::string fake_cfg_script(const std::string &values_dir)
{
    return "#!/bin/sh\n"
           "[ $# -eq 2 ] && [ \"$1\" = -v ] || exit 2\n"
           "d=" + shell_quote(values_dir) + "\n"
           "if [ -f \"$d/$2.sh\" ]; then . \"$d/$2.sh\"; exit 0; fi\n"
           "if [ -f \"$d/$2\" ]; then cat \"$d/$2\"; fi\n"
           "exit 0\n";
}
