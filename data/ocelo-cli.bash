# bash completion for ocelo-cli                                            -*- shell-script -*-

_ocelo_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --) break ;;
            convert | detect)
                command=${words[i]}
                break
                ;;
        esac
    done

    case $prev in
        -t | --to)
            COMPREPLY=($(compgen -W 'copy utf-8 utf-16 shift_jis cp932 utf8 utf-16le utf16 shift-jis sjis
                windows-31j ms932 0 8 16 74' -- "$cur"))
            return
            ;;
        -o | --out)
            _filedir -d
            return
            ;;
    esac
    $split && return

    local options
    case $command in
        convert)
            options='--to= --out= --stdout --recursive --dry-run --show-lost --quiet --json --verbose --help'
            ;;
        detect)
            options='--quiet --json --verbose --help'
            ;;
        *)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W '--help --version' -- "$cur"))
            else
                COMPREPLY=($(compgen -W 'convert detect' -- "$cur"))
            fi
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    _filedir
} &&
    complete -F _ocelo_cli ocelo-cli

# ex: filetype=sh
