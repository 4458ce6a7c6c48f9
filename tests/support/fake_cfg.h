// A stand-in for the device's configuration command. `cfg -v NAME` prints
// the bytes of DIR/NAME when that file exists and nothing otherwise; when
// DIR/NAME.sh exists it runs that script instead (to hang, fail or look
// around). Usable on the host (a scratch DIR) and inside the sandbox.
#pragma once

#include <string>

std::string fake_cfg_script(const std::string &values_dir);
