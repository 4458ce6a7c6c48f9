// The working configuration: written by confstore, read by confstore and
// by confexport.
#pragma once

inline constexpr char working_config_path[] = "/tmp/.current_config";
