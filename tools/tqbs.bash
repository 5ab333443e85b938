# bash completion for tqbs, the tool of the Tessaloquin basics library.
# compgen output is split on purpose: completion words hold no blanks.
# shellcheck disable=SC2207
_tqbs() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="info error registry module perf demo help"
    if [ "$cword" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    case "$prev" in
        --prometheus | --config)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --interval | --count | --seconds | --listen)
            return
            ;;
        --type)
            COMPREPLY=($(compgen -W "string dword" -- "$cur"))
            return
            ;;
        --format)
            [ "${words[1]}" = perf ] && COMPREPLY=($(compgen -W "lines table csv json" -- "$cur"))
            return
            ;;
        --counters)
            # The short names of the counters, as 'tqbs perf list --json' gives them.
            local names
            names=$("${words[0]}" perf list --json 2>/dev/null |
                sed -n 's/.*"metric":"tessaloquin_\([a-z_]*\)".*/\1/p' | sed 's/_total$//')
            local prefix=""
            [[ $cur == *,* ]] && prefix=${cur%,*},
            COMPREPLY=($(compgen -P "$prefix" -W "$names" -- "${cur##*,}"))
            compopt -o nospace 2>/dev/null
            return
            ;;
    esac

    local command=${words[1]}
    case "$command" in
        help)
            [ "$cword" -eq 2 ] && COMPREPLY=($(compgen -W "info error registry module perf demo" -- "$cur"))
            ;;
        error)
            COMPREPLY=($(compgen -W "--search --all --help" -- "$cur"))
            ;;
        demo)
            COMPREPLY=($(compgen -W "--seconds --help" -- "$cur"))
            ;;
        info)
            COMPREPLY=($(compgen -W "--json --help" -- "$cur"))
            ;;
        perf)
            if [ "$cword" -eq 2 ]; then
                COMPREPLY=($(compgen -W "install uninstall status cleanup list monitor serve --help" -- "$cur"))
            elif [ "${words[2]}" = monitor ]; then
                COMPREPLY=($(compgen -W "--interval --count --counters --format --prometheus --help" -- "$cur"))
            elif [ "${words[2]}" = serve ]; then
                COMPREPLY=($(compgen -W "--listen --help" -- "$cur"))
            elif [ "${words[2]}" = status ] || [ "${words[2]}" = list ]; then
                COMPREPLY=($(compgen -W "--json --help" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "--help" -- "$cur"))
            fi
            ;;
        registry)
            if [ "$cword" -eq 2 ]; then
                COMPREPLY=($(compgen -W "get set delete list --help" -- "$cur"))
            elif [ "${words[2]}" = set ]; then
                COMPREPLY=($(compgen -W "--type --help" -- "$cur"))
            fi
            ;;
        module)
            if [ "$cword" -eq 2 ]; then
                COMPREPLY=($(compgen -W "describe path --help" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "--config --help" -- "$cur"))
            fi
            ;;
    esac
}
complete -F _tqbs tqbs
