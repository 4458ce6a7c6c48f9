// One line of configuration text turned into one line that a POSIX shell
// reads as an assignment and nothing else.
#include "confexport.h"

#include "out_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

// The key line is left out of the shell copy, which any script may read.
constexpr std::string_view secret_prefix = "PSK_KEY=";

// Names the device's shells (a POSIX sh, busybox ash, bash) treat specially:
// readonly ones whose assignment ends a script (UID), ones that change how
// later lines are split, found or traced (IFS, PATH, PS4), run code (ENV,
// PROMPT_COMMAND) or must be numbers (OPTIND). A setting of such a name is
// left out of the shell copy, as the manuals of the three shells list them
// (one text, the names separated by blanks: a table of texts would cost a
// pointer and a length for each).
constexpr char shell_special_names[] =
    "BASH BASHOPTS BASHPID BASH_ALIASES BASH_ARGC BASH_ARGV BASH_ARGV0 BASH_CMDS "
    "BASH_COMMAND BASH_COMPAT BASH_ENV BASH_EXECUTION_STRING BASH_LINENO "
    "BASH_LOADABLES_PATH BASH_REMATCH BASH_SOURCE BASH_SUBSHELL BASH_VERSINFO "
    "BASH_VERSION BASH_XTRACEFD CDPATH CHILD_MAX COLUMNS COMPREPLY COMP_CWORD COMP_KEY "
    "COMP_LINE COMP_POINT COMP_TYPE COMP_WORDBREAKS COMP_WORDS COPROC DIRSTACK EMACS ENV "
    "EPOCHREALTIME EPOCHSECONDS EUID EXECIGNORE FCEDIT FIGNORE FUNCNAME FUNCNEST "
    "GLOBIGNORE GROUPS HISTCMD HISTCONTROL HISTFILE HISTFILESIZE HISTIGNORE HISTSIZE "
    "HISTTIMEFORMAT HOME HOSTFILE HOSTNAME HOSTTYPE IFS IGNOREEOF INPUTRC INSIDE_EMACS "
    "LANG LC_ALL LC_COLLATE LC_CTYPE LC_MESSAGES LC_NUMERIC LC_TIME LINENO LINES MACHTYPE "
    "MAIL MAILCHECK MAILPATH MAPFILE NLSPATH OLDPWD OPTARG OPTERR OPTIND OSTYPE PATH "
    "PIPESTATUS POSIXLY_CORRECT PPID PROMPT_COMMAND PROMPT_DIRTRIM PS0 PS1 PS2 PS3 PS4 "
    "PWD RANDOM READLINE_ARGUMENT READLINE_LINE READLINE_MARK READLINE_POINT REPLY "
    "SECONDS SHELL SHELLOPTS SHLVL SRANDOM TERM TIMEFORMAT TMOUT TMPDIR UID";

bool is_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Bytes that stand for themselves in an unquoted assignment value. Bytes of
// 0x80 and above (UTF-8) are ordinary characters to the shell.
bool plain_byte(unsigned char c)
{
    return is_letter(c) || is_digit(c) || c >= 0x80 ||
           (c != 0 && std::strchr("_./:,@%+=-", c) != nullptr);
}

// Single quotes keep every byte but the quote itself, which is closed,
// escaped and reopened.
void put_quoted(std::string_view value, out_buffer &out)
{
    out.put("'");
    size_t from = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\'')
            continue;
        out.put(std::string_view(value.data() + from, i - from));
        out.put("'\\''");
        from = i + 1;
    }
    out.put(std::string_view(value.data() + from, value.size() - from));
    out.put("'");
}

} // namespace

bool shell_name(std::string_view name)
{
    if (name.empty() || is_digit(name[0]))
        return false;
    for (unsigned char c : name)
        if (!is_letter(c) && !is_digit(c) && c != '_')
            return false;
    return true;
}

bool shell_special(std::string_view name)
{
    for (std::string_view rest = shell_special_names; !rest.empty();) {
        const size_t end = std::min(rest.find(' '), rest.size());
        if (std::string_view(rest.data(), end) == name)
            return true;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return false;
}

bool shell_plain(std::string_view value)
{
    for (unsigned char c : value)
        if (!plain_byte(c))
            return false;
    return true;
}

export_step export_line(std::string_view line, out_buffer &out)
{
    std::string_view text = line_text(line);
    if (text.starts_with(secret_prefix))
        return export_step::secret;
    // An empty line (or one that starts with a zero byte, as the fill after
    // the text does) ends the configuration text.
    if (text.size() < 2)
        return export_step::end;
    if (text.back() == '\n')
        text.remove_suffix(1);
    size_t eq = text.find('=');
    const std::string_view name(text.data(), eq == text.npos ? 0 : eq);
    if (eq == text.npos || !shell_name(name) || shell_special(name))
        return export_step::left_out;
    std::string_view value(text.data() + eq + 1, text.size() - eq - 1);
    out.put(std::string_view(text.data(), eq + 1));
    if (shell_plain(value))
        out.put(value);
    else
        put_quoted(value, out);
    out.put("\n");
    return export_step::written;
}
