# bash completion for pagewing                             -*- shell-script -*-
# Installed as share/bash-completion/completions/pagewing, where
# bash-completion loads it the first time pagewing is completed.

_pagewing()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        -o | --output | --cookies)
            _filedir
            return
            ;;
        --mail-program)
            COMPREPLY=($(compgen -W 'thunderbird icedove betterbird none' -- "$cur"))
            return
            ;;
        --cookies-from-browser)
            # BROWSER[:PROFILE]; the profile is a name or a folder of the user's.
            COMPREPLY=($(compgen -W 'firefox chromium chrome' -- "$cur"))
            return
            ;;
        --base | --subject | --to | --from | --style-sheet | --exclude | --proxy | \
            --user | --connections | --timeout | --resolve)
            # A value only the user knows.
            return
            ;;
        -h | --help | -V | --version | --bookmarklet)
            return
            ;;
    esac

    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-o --output --open --mail-program --base --subject --to --from
            --keep-scripts --no-unsent --complete --render --style-sheet --exclude
            --proxy --user --insecure --cookies --cookies-from-browser --connections
            --timeout --resolve -v --verbose -q --quiet -h --help -V --version
            --bookmarklet' -- "$cur"))
        return
    fi

    # The page: a URL is typed, a local file is completed.
    _filedir
} &&
    complete -F _pagewing pagewing

# ex: filetype=sh
