# bash completion for tessavo: its options, the values of --loss, --mask,
# --factors and --encoding, folders after -d and --outdir, and file names everywhere else.
# Plain bash only, so that it works with and without the bash-completion
# package; installed as share/bash-completion/completions/tessavo.

_tessavo_options='-f --fftsize -i --maxiterations -c --criteria --tolerance -o --overlap -t --threads
-s --silent -m --matrixout --factors --no-sounds --loss --templates --mask --maskpower --pad --precision --seed --sources
-d --outdir --encoding --continuity --sparsity -- --ignore_rest -h --help --version'

# Completes $1 as a file name, or with -d as $2 as a folder name.
_tessavo_files()
{
    local IFS=$'\n'
    if [[ ${2-} == -d ]]; then
        COMPREPLY=($(compgen -d -- "$1"))
    else
        COMPREPLY=($(compgen -f -- "$1"))
    fi
    # Quote what needs it and mark folders with a slash; only possible while
    # bash is completing.
    compopt -o filenames 2>/dev/null
    return 0
}

_tessavo()
{
    local cword=$COMP_CWORD
    local cur=${COMP_WORDS[cword]-}
    local prev=""
    ((cword > 0)) && prev=${COMP_WORDS[cword - 1]}
    COMPREPLY=()

    # After "--" every word is a file name or a count.
    local i
    for ((i = 1; i < cword; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            _tessavo_files "$cur"
            return 0
        fi
    done

    # --templates NAME=FILE: bash splits the word at "=" unless
    # COMP_WORDBREAKS lacks it; either way FILE is a file name.
    if [[ $cur == = && ${COMP_WORDS[cword - 2]-} == --templates ]]; then
        _tessavo_files ""
        return 0
    fi
    if [[ $prev == = && ${COMP_WORDS[cword - 3]-} == --templates ]]; then
        _tessavo_files "$cur"
        return 0
    fi

    case $prev in
    --loss)
        COMPREPLY=($(compgen -W 'euclidean kl is' -- "$cur"))
        return 0
        ;;
    --mask)
        COMPREPLY=($(compgen -W 'direct soft' -- "$cur"))
        return 0
        ;;
    --factors)
        COMPREPLY=($(compgen -W 'text npy' -- "$cur"))
        return 0
        ;;
    --encoding)
        COMPREPLY=($(compgen -W 'pcm16 pcm24 pcm32 float double' -- "$cur"))
        return 0
        ;;
    -d | --outdir)
        _tessavo_files "$cur" -d
        return 0
        ;;
    --templates)
        if [[ $cur == *=* ]]; then
            local name=${cur%%=*}
            _tessavo_files "${cur#*=}"
            COMPREPLY=("${COMPREPLY[@]/#/$name=}")
        fi
        return 0  # NAME is the user's to choose
        ;;
    -f | --fftsize | -i | --maxiterations | -c | --criteria | -o | --overlap | -t | --threads | --maskpower | --precision | \
    --seed | --sources | --continuity | --sparsity | --tolerance)
        return 0  # a number
        ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$_tessavo_options" -- "$cur"))
        return 0
    fi
    _tessavo_files "$cur"
}

complete -F _tessavo tessavo
