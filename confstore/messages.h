// The texts confstore prints. Other software on the device matches them
// byte for byte, misspellings included.
#pragma once

inline constexpr char msg_refusal[] = "Bye Bye!!!!\n";
// confstore -h, confstore --help.
inline constexpr char msg_usage[] =
    "Usage: confstore COMMAND [ARGS]\n"
    "\n"
    "Keep the device's settings: the working configuration /tmp/.current_config,\n"
    "its flash copy /dev/mtdblock4 and the defaults /etc/ath/default_config.\n"
    "Only the first letter of COMMAND counts.\n"
    "\n"
    "  r NAME               Print NAME's value in /tmp/.current_config\n"
    "  s                    Print /tmp/.current_config\n"
    "  w NAME VALUE         Set NAME in /tmp/.current_config; one it refuses prints\n"
    "                       OPEN CONFIG FALID, the reason on standard error\n"
    "  y FILE PATTERN NAME  Replace each line of FILE holding PATTERN by PATTERN\n"
    "                       and NAME's value; FILETMP keeps a copy\n"
    "  i                    Append the settings of /dev/mtdblock4 to\n"
    "                       /tmp/.current_config, or take /etc/ath/default_config\n"
    "                       for both when the flash copy is not valid\n"
    "  c                    Commit /tmp/.current_config to /dev/mtdblock4\n"
    "  d                    Reset /dev/mtdblock4 to /etc/ath/default_config\n"
    "\n"
    "The commands that change /tmp/.current_config, and c and d, take the lock\n"
    "/tmp/.current_config.lock. More in the project's README.md.\n";
inline constexpr char msg_show_failed[] = "Open failure!!!";
inline constexpr char msg_open_failed_fmt[] = "openfile [%s] error [%s]\n";
inline constexpr char msg_config_failed[] = "OPEN CONFIG FALID\n";
inline constexpr char msg_bad_name[] =
    "Refused: a setting name must not be empty or hold \"=\" or a newline\n";
inline constexpr char msg_ambiguous_name[] =
    "Refused: a setting name must not start with white space or hold a blank, a tab, \"|\" or \"^\"\n";
inline constexpr char msg_bad_value[] = "Refused: a setting value must not hold a newline\n";
// %s: the path, then why it is not used ("a file of another user").
inline constexpr char msg_refused_fmt[] = "Refused: %s is %s\n";
inline constexpr char msg_lock_busy[] =
    "Refused: another run holds the lock of the working configuration\n";
inline constexpr char msg_lock_unusable_fmt[] = "Refused: the lock %s.lock cannot be used: %s\n";
// On standard error: a directory with entries was found at the lock's
// name and put aside (the path twice, then the temporary name's end).
inline constexpr char msg_lock_left_fmt[] =
    "the lock %s.lock was a directory with entries: it stays as %s.lock.tmp~%s\n";
// On standard error after "OPEN CONFIG FALID": why `w` changed nothing.
inline constexpr char msg_set_failed_fmt[] = "cannot change %s: %s\n";
// On standard error from `y`: the file (%s%s: the path, and "TMP" or
// nothing) left as it was, and why.
inline constexpr char msg_patch_failed_fmt[] = "cannot replace %s%s: %s\n";
// perror's prefix when standard output could not take the answer.
inline constexpr char msg_stdout_failed[] = "confstore: standard output";
// The argument checks' report: the program, the line, the function, the
// condition, in the words the device's logs have always shown.
inline constexpr char msg_assertion_fmt[] = "%s: confstore:%d: %s: Assertion `%s' failed.\n";
inline constexpr char msg_long_line[] =
    "Refused: a setting line (NAME=VALUE and its newline) must not be longer than 255 bytes\n";

// Flash synchronisation (c, d, i).
inline constexpr char msg_commit_same_fmt[] = "BUFF and E2P Same Line1 = %d, Line2 = %d\n";
inline constexpr char msg_commit_different_fmt[] = "BUFF and E2P Different Line1 = %d, Line2 = %d\n";
inline constexpr char msg_erase_flash[] = "Erase mtdblack4 now......\n";
inline constexpr char msg_copy_config[] = "Copy tmp config file to mtdblock4......\n";
inline constexpr char msg_reset_to_default[] = "Reset to default...\n";
inline constexpr char msg_copy_defaults[] = "Copy Default config file to mtdblack4......\n";
inline constexpr char msg_file_open_error[] = "File open error!\n";
// Failures the lines above do not tell, on standard error: the action, the
// file, the system's reason, then nothing or what the flash copy holds
// (flash_tails).
inline constexpr char msg_flash_failed_fmt[] = "cannot %s %s: %s%s\n";
inline constexpr char msg_flash_unreadable_fmt[] =
    "cannot use the flash copy %s: %s; the working configuration is taken from %s\n";
// A save of the flash copy that failed: the device, what failed, then what
// the next restore finds, from flash_tails.
inline constexpr char msg_flash_write_fmt[] = "cannot write %s: %s%s\n";
inline constexpr char msg_flash_no_read_back[] =
    "the text would not read back from the flash copy as it is";
// What failed at an offset: the operation, the offset, the system's reason.
inline constexpr char msg_flash_op_fmt[] = "%s at offset %zu failed: %s";
inline constexpr char msg_flash_not_erased_fmt[] =
    "the block erased at offset %zu did not read back erased";
inline constexpr char msg_flash_not_programmed_fmt[] =
    "the bytes programmed at offset %zu did not read back as written";
// By what the partition gives after the failure, in flash_left's order.
inline constexpr const char *flash_tails[] = {
    "; the flash copy is left as it was",
    "; the next restore takes the old settings or the new ones",
    "; the flash copy holds the new settings",
    "; the next restore may take the defaults",
};
// A save that went on without a backup: the device, the backup area's
// offset, what it would not do ("read", "erased", "programmed").
inline constexpr char msg_flash_no_backup_fmt[] =
    "the flash copy %s was saved without a backup: its backup area at offset %zu cannot be %s\n";
// A piece of the flash copy that could not be read (the device, the
// offset): where the settings came from all the same.
inline constexpr char msg_flash_hole_fmt[] =
    "cannot read the flash copy %s at offset %zu; the settings do not reach there\n";
inline constexpr char msg_flash_hole_backup_fmt[] =
    "cannot read the flash copy %s at offset %zu; the working configuration is taken from its "
    "backup\n";
inline constexpr char msg_flash_from_backup_fmt[] =
    "the flash copy %s was cut short while it was saved; the working configuration and the "
    "flash copy are taken from its backup\n";
