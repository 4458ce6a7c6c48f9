// confexport: writes /tmp/buffconfig, the shell copy of the working
// configuration, for the device's scripts to source. Takes no arguments and
// ignores any it is given. Exit status 0, or 255 after "open error".
#include "confexport.h"
#include "messages.h"

#include "std_streams.h"

int main()
{
    int rc = export_config(working_config_path, shell_copy_path, std_out());
    end_std_out(msg_stdout_failed);
    return rc;
}
