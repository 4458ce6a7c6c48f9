// confexport: writes /tmp/buffconfig, the shell copy of the working
// configuration, for the device's scripts to source. Takes no arguments and
// ignores any it is given, but for -h or --help first, which prints its
// usage and does nothing else. Exit status 0, or 255 after "open error".
#include "confexport.h"
#include "messages.h"

#include "std_streams.h"
#include "usage.h"

int main(int argc, char **argv)
{
    if (help_asked(argc, argv))
        return show_usage(msg_usage);
    int rc = export_config(working_config_path, shell_copy_path, std_out());
    end_std_out(msg_stdout_failed);
    return rc;
}
