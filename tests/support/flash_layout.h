// The flash copy's layout as the tests state it, apart from the code under
// test: the text from offset 0, then fill groups 00 00 00 FF up to 256 KiB.
#pragma once

#include <string>

std::string laid_out(const std::string &text);
// The defaults file the device sandbox installs.
std::string shipped_defaults();
