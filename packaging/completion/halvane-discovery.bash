# bash completion for halvane-generate and halvane-convert.
#
# The option names come from the program's own --help, so they never fall behind it; after an
# option that names a file, only files of the kind that option reads or writes are offered (and
# folders, to walk into).

# The options in the program's --help: its option lines are indented by two blanks, their help
# text and its continuation lines further.
_halvane_discovery_options()
{
    LC_ALL=C "$1" --help 2>/dev/null |
        sed -n 's/^  \(-[^ ].*\)$/\1/p' |
        sed 's/  .*//; s/, /\n/g' |
        sed 's/ .*//'
}

_halvane_discovery()
{
    local cur prev words cword split
    _init_completion -s || return

    local files=""
    case ${1##*/} in
        halvane-generate)
            case $prev in
                -c | --config | -d | --discovery | --verify) files='yaml|yml' ;;
                -e | --excel) files='xlsx' ;;
                -r | --report) files='html|htm' ;;
                -j | --jobs) return ;;
            esac
            ;;
        halvane-convert)
            case $prev in
                -e | --excel) files='xlsx' ;;
                -y | --yaml | --template) files='yaml|yml' ;;
            esac
            ;;
    esac
    if [[ -n $files ]]; then
        _filedir "$files"
        return
    fi
    $split && return

    COMPREPLY=($(compgen -W "$(_halvane_discovery_options "$1")" -- "$cur"))
} &&
    complete -F _halvane_discovery halvane-generate halvane-convert

# ex: filetype=sh
