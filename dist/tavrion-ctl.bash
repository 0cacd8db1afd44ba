# Bash completion for tavrion-ctl: verbs, options, COM ports, output and row names, files.
# Load it from ~/.bashrc:  . ~/tavrion/tavrion-ctl.bash   (the program folder's copy)

_tavrion_ctl()
{
    local cur prev verb i word
    COMPREPLY=()
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local verbs="status route mode power lock mute edid dual-audio picture bezel resolution preset menu
                 factory-reset version send run backup restore diff help"
    local options="--serial --tcp --json --quiet --verbose --wait-ready --yes --help --version --"

    if [[ $prev == --serial ]]; then
        COMPREPLY=($(compgen -W "COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9" -- "$cur") $(compgen -f -- "$cur"))
        return
    fi
    [[ $prev == --tcp || $prev == --wait-ready ]] && return

    # The verb and the words after it, options left out.
    verb=
    local -a args=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --serial|--tcp|--wait-ready) ((i++)) ;;
            -*) ;;
            *) if [[ -z $verb ]]; then verb=$word; else args+=("$word"); fi ;;
        esac
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    if [[ -z $verb ]]; then
        COMPREPLY=($(compgen -W "$verbs" -- "$cur"))
        return
    fi

    local n=${#args[@]} words=
    case $verb in
        help) ((n == 0)) && words=$verbs ;;
        route) ((n == 0)) && words="A B C D AL AR BL BR wall"; ((n == 1)) && words="1 2 3 4" ;;
        mode) ((n == 0)) && words="matrix dual tv-wall" ;;
        power) ((n == 0)) && words="on standby" ;;
        lock|mute) ((n == 0)) && words="on off" ;;
        edid) ((n == 0)) && words="2ch 6ch 8ch bitstream hd" ;;
        dual-audio) ((n == 0)) && words="A B"; ((n == 1)) && words="left right" ;;
        picture) ((n == 0)) && words="brightness contrast saturation hue reset"
                 ((n == 1)) && [[ ${args[0]} != reset ]] && words="all A B C D AL AR BL BR" ;;
        bezel) ((n == 0)) && words="on off h v" ;;
        preset) ((n == 0)) && words="recall save"; ((n == 1)) && words="1 2 3 4" ;;
        menu) ((n == 0)) && words="up down left right ok menu exit" ;;
        factory-reset) words="--yes" ;;
        run|backup|restore|diff) ((n == 0)) && words=FILES ;;
    esac
    if [[ $words == FILES ]]; then
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
}
complete -o filenames -F _tavrion_ctl tavrion-ctl
