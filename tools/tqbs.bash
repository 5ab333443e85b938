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
        COMPREPLY=($(compgen -W "$commands --help" -- "$cur"))
        return
    fi

    case "$prev" in
        --prometheus | --config)
            COMPREPLY=($(compgen -f -- "$cur"))
            return
            ;;
        --interval | --count | --seconds)
            return
            ;;
    esac

    local command=${words[1]}
    case "$command" in
        help)
            [ "$cword" -eq 2 ] && COMPREPLY=($(compgen -W "info error registry module perf demo" -- "$cur"))
            ;;
        error)
            COMPREPLY=($(compgen -W "--search --help" -- "$cur"))
            ;;
        demo)
            COMPREPLY=($(compgen -W "--seconds --help" -- "$cur"))
            ;;
        info)
            COMPREPLY=($(compgen -W "--help" -- "$cur"))
            ;;
        perf)
            if [ "$cword" -eq 2 ]; then
                COMPREPLY=($(compgen -W "install uninstall status cleanup monitor --help" -- "$cur"))
            elif [ "${words[2]}" = monitor ]; then
                COMPREPLY=($(compgen -W "--interval --count --prometheus --help" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "--help" -- "$cur"))
            fi
            ;;
        registry)
            [ "$cword" -eq 2 ] && COMPREPLY=($(compgen -W "get set delete --help" -- "$cur"))
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
