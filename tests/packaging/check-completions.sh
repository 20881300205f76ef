#!/usr/bin/env bash
# The shell completions: bash's and zsh's offer every long option that each
# program's --help names, and complete the table of lines below as they should.
# Usage: check-completions.sh COMPLETIONS_DIR PROGRAM_PATH...
# Without zsh, its half is skipped (exit 77) once bash's has passed.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/help-options.sh"
dir=$1
shift

# The lines are completed in a folder of their own, with these files in it.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
touch fw-a.bin fw-b.bin notes.txt

# A line typed, and every candidate offered for its last word, sorted; only
# what follows the word's last '=' counts (that is what bash completes).
cases=(
  "kvm-upgrade-cli |check info upgrade"
  "kvm-upgrade-cli --port |AUTO COM1 COM10 COM11 COM12 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9"
  "kvm-upgrade-cli --port=COM1|COM1 COM10 COM11 COM12"
  "kvm-upgrade-cli -p A|AUTO"
  "kvm-upgrade-cli --map |COM1 COM10 COM11 COM12 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9"
  "kvm-upgrade-cli --map COM3=fw|fw-a.bin fw-b.bin"
  "kvm-upgrade-cli --map=COM3=fw|fw-a.bin fw-b.bin"
  "kvm-upgrade-cli upgrade --yes fw|fw-a.bin fw-b.bin"
  "kvm-upgrade-cli -v info n|notes.txt"
  "kvm-upgrade-cli check |"
  "kvm-upgrade-cli check --file fw|fw-a.bin fw-b.bin"
  "kvm-upgrade-cli --log n|notes.txt"
  "kvm-upgrade --screenshot n|notes.txt"
  "kvm-upgrade --map COM1=n|notes.txt"
  "kvm-switch-sim --noise |"
  "kvm-switch-sim --image-out=n|notes.txt"
  "kvm-make-firmware --date |"
  "kvm-make-firmware --seed 3 fw|fw-a.bin fw-b.bin"
)

# What bash completes for a line: its words split as bash splits them (at
# blanks, and at '=', which is a word of its own), handed to the function
# that "complete" names for the program.
bash_complete()
{
  bash --norc --noprofile -c '
    source "$1"
    line=$2
    read -ra pieces <<<"$line"
    [[ $line == *" " ]] && pieces+=("")
    words=()
    for piece in "${pieces[@]}"; do
      [[ -z $piece ]] && words+=("")
      while [[ -n $piece ]]; do
        if [[ $piece == =* ]]; then
          words+=("=") piece=${piece#=}
        else
          words+=("${piece%%=*}") piece=${piece#"${piece%%=*}"}
        fi
      done
    done
    function=$(complete -p "${words[0]}" | grep -oP "(?<=-F )\S+")
    COMP_WORDS=("${words[@]}") COMP_CWORD=$((${#words[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
    COMPREPLY=()
    "$function"
    printf "%s\n" "${COMPREPLY[@]}"' complete "$dir/kvm-upgrade.bash" "$1"
}

# A line that never completes would leave zsh waiting for its marks.
zsh_complete()
{
  KVM_ZSH_COMPLETIONS=$dir timeout 30 zsh "$here/zsh-complete.zsh" "$1"
}

# The candidates as the table writes them: what follows the last '=' of each
# (a trailing '=', which bash adds to COMn, dropped first), sorted, on one line.
normalised()
{
  sed -e 's/=$//' -e 's/.*=//' | grep -v '^$' | sort -u | paste -sd ' ' || true
}

failures=0
check_shell()
{
  local shell=$1 program path option offered options=0
  for path in "${programs[@]}"; do
    program=$(basename "$path")
    offered=" $("${shell}_complete" "$program --" | paste -sd ' ') "
    while IFS= read -r option; do
      [[ $option == --* ]] && options=$((options + 1))
      if [[ $option == --* && $offered != *" $option "* ]]; then
        echo "$shell: $program: $option is in --help but not offered" >&2
        failures=$((failures + 1))
      fi
    done < <(help_options "$path")
  done
  local row line wanted got
  for row in "${cases[@]}"; do
    line=${row%%|*} wanted=${row#*|}
    got=$("${shell}_complete" "$line" | normalised)
    if [[ $got != "$wanted" ]]; then
      echo "$shell: '$line<TAB>' offered '$got', not '$wanted'" >&2
      failures=$((failures + 1))
    fi
  done
  echo "$shell: ${options} long options of --help looked for, ${#cases[@]} lines completed"
}

programs=("$@")
check_shell bash
if ! command -v zsh >/dev/null; then
  echo "zsh is not installed: its completions are not checked"
  exit $((failures > 0 ? 1 : 77))
fi
check_shell zsh
exit $((failures > 0))
