# Sourced by the packaging checks: the options a program's --help names.

# Prints, one a line and sorted, every option (--long or -x) that "$1 --help"
# names, wherever in the text it stands.
help_options()
{
    "$1" --help | grep -oP '(?<![[:alnum:]-])(--[[:alnum:]][[:alnum:]-]*|-[[:alpha:]])(?![[:alnum:]-])' | sort -u
}
