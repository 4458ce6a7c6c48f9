// The C library of the programs under test words some errors otherwise than
// the tests' own: a message built from strerror is compared with this text.
#pragma once

#include <string>

// The device's text for `err`, as its C library's strerror gives it.
std::string device_error_text(int err);
