# Bash completion for kvm-upgrade, kvm-upgrade-cli, kvm-switch-sim and
# kvm-make-firmware. One file for the four programs, installed under each one's name in
# share/bash-completion/completions/, where bash-completion loads it on the
# first <TAB> after that name. It needs nothing of bash-completion's own, so
# it also works when sourced by hand.

# Bash splits words at '=' (it is in COMP_WORDBREAKS): "--port=CO" arrives
# as "--port" "=" "CO", and "--map COM3=/dev/tty" as "--map" "COM3" "=" "/dev/tty".
# The words are joined again here so that each program's rules see the words
# as typed; _kvm_words gets them, the last one being the word under the cursor.
_kvm_join_words()
{
    _kvm_words=()
    local i word n
    for ((i = 1; i <= COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        n=${#_kvm_words[@]}
        if ((n > 0)) && [[ $word == "=" || ${_kvm_words[n - 1]} == *= ]]; then
            _kvm_words[n - 1]+=$word
        else
            _kvm_words+=("$word")
        fi
    done
    ((${#_kvm_words[@]} > 0)) || _kvm_words=("")
}

# Offers the candidates (whole words as typed) that start with the word under
# the cursor. Bash replaces only the text after the word's last '=' when '='
# breaks words, so that much of each candidate is dropped.
_kvm_offer()
{
    local cur=${_kvm_words[-1]} kept="" candidate
    if [[ $COMP_WORDBREAKS == *=* && $cur == *=* ]]; then
        kept=${cur%"${cur##*=}"}
    fi
    for candidate in "$@"; do
        [[ $candidate == "$cur"* ]] && COMPREPLY+=("${candidate#"$kept"}")
    done
}

# Files whose names start with $2, each offered as $1 followed by the name.
_kvm_offer_files()
{
    local prefix=$1 typed=$2 name
    local -a names=()
    while IFS= read -r name; do
        names+=("$prefix$name")
    done < <(compgen -f -- "$typed")
    compopt -o filenames 2>/dev/null
    _kvm_offer "${names[@]}"
}

# The value of --map COMn=DEVICE, $1 being what is typed of it so far: the
# port names first, then the device's file name.
_kvm_offer_map()
{
    local prefix=$1 value=$2
    if [[ $value == *=* ]]; then
        _kvm_offer_files "$prefix${value%%=*}=" "${value#*=}"
    else
        compopt -o nospace 2>/dev/null
        _kvm_offer "$prefix"COM{1..12}=
    fi
}

# Splits the word under the cursor into the option whose value it is
# (_kvm_option, empty when it is none) and the value typed so far (_kvm_value),
# and sets _kvm_prefix to what comes before the value in that word ("--port="
# for "--port=CO"). $1 is the program's options that take a value.
_kvm_option_value()
{
    local takes_value=" ${1//$'\n'/ } " cur=${_kvm_words[-1]} n=${#_kvm_words[@]}
    local prev=""
    ((n > 1)) && prev=${_kvm_words[n - 2]}
    _kvm_option="" _kvm_value="" _kvm_prefix=""
    if [[ $cur == --*=* && $takes_value == *" ${cur%%=*} "* ]]; then
        _kvm_option=${cur%%=*} _kvm_value=${cur#*=} _kvm_prefix="${cur%%=*}="
    elif [[ -n $prev && $prev != *=* && $takes_value == *" $prev "* ]]; then
        _kvm_option=$prev _kvm_value=$cur
    fi
}

_kvm_upgrade_cli()
{
    COMPREPLY=()
    _kvm_join_words
    local options="--port -p --file -f --yes -y --verbose -v --quiet -q --json
        --if-newer --verify --verify=probe-only --log --map --list-ports --help -h --version"
    local value_options="--port -p --file -f --log --map"
    _kvm_option_value "$value_options"
    case $_kvm_option in
    --port | -p)
        _kvm_offer "$_kvm_prefix"{AUTO,COM{1..12}}
        return ;;
    --file | -f | --log)
        _kvm_offer_files "$_kvm_prefix" "$_kvm_value"
        return ;;
    --map)
        _kvm_offer_map "$_kvm_prefix" "$_kvm_value"
        return ;;
    esac

    # The command is the first word that is neither an option nor its value.
    local command="" i word n=${#_kvm_words[@]} ended=""
    for ((i = 0; i < n - 1; i++)); do
        word=${_kvm_words[i]}
        if [[ -n $ended || $word != -* ]]; then
            command=$word
            break
        elif [[ $word == -- ]]; then
            ended=1
        elif [[ " $value_options " == *" $word "* ]]; then
            ((i++))
        fi
    done

    local cur=${_kvm_words[-1]}
    if [[ -z $ended && $cur == -* ]]; then
        # shellcheck disable=SC2086
        _kvm_offer $options
    elif [[ -z $command ]]; then
        _kvm_offer info check upgrade
    elif [[ $command == info || $command == upgrade ]]; then
        _kvm_offer_files "" "$cur"
    fi
}

_kvm_upgrade()
{
    COMPREPLY=()
    _kvm_join_words
    _kvm_option_value "--map --screenshot"
    case $_kvm_option in
    --map) _kvm_offer_map "$_kvm_prefix" "$_kvm_value" ;;
    --screenshot) _kvm_offer_files "$_kvm_prefix" "$_kvm_value" ;;
    *) _kvm_offer --map --list-ports --screenshot --version --help -h ;;
    esac
}

_kvm_switch_sim()
{
    COMPREPLY=()
    _kvm_join_words
    # Values that are numbers, codes or texts: nothing to offer.
    local free_values="--reply-code --date --model --flash-delay-us --adapter-hold
        --adapter-flush-bytes --seed --answer-probe-from --answer-probe-until
        --answer-probe-again-from --go-ahead-delay-ms --reject-block --reject-count
        --reject-code --silent-from-block --ignore-block --reply-length --noise
        --hangup-after-block --babble-after-go-ahead --restart-ms"
    _kvm_option_value "$free_values --restart --image-out --link --map"
    case $_kvm_option in
    "") ;;
    --restart) _kvm_offer "$_kvm_prefix"{new,old-date,never}; return ;;
    --image-out | --link) _kvm_offer_files "$_kvm_prefix" "$_kvm_value"; return ;;
    --map) _kvm_offer_map "$_kvm_prefix" "$_kvm_value"; return ;;
    *) return ;;
    esac
    # shellcheck disable=SC2086
    _kvm_offer $free_values --line-timing --adapter-hold-random --silent --no-ready-reply \
        --no-go-ahead --babble --hang-up-after-last-ack --restart --image-out --link --once --show-blocks \
        --map --list-ports --version --help -h
}

_kvm_make_firmware()
{
    COMPREPLY=()
    _kvm_join_words
    # Numbers and dates: nothing to offer.
    local free_values="--size --model-index --date --seed"
    _kvm_option_value "$free_values"
    [[ -n $_kvm_option ]] && return
    if [[ ${_kvm_words[-1]} == -* ]]; then
        # shellcheck disable=SC2086
        _kvm_offer $free_values --no-record --version --help
    else
        _kvm_offer_files "" "${_kvm_words[-1]}"
    fi
}

complete -F _kvm_upgrade_cli kvm-upgrade-cli
complete -F _kvm_upgrade kvm-upgrade
complete -F _kvm_switch_sim kvm-switch-sim
complete -F _kvm_make_firmware kvm-make-firmware
