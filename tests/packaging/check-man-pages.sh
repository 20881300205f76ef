#!/usr/bin/env bash
# The manual pages follow the programs: every option that a program's --help
# names is on its page, the page carries the project's version, and man
# formats it without a warning. kvm-make-firmware's warning that its files are
# for the simulated switch only opens its --help and is its page's NAME line.
# Usage: check-man-pages.sh MAN_DIR VERSION PROGRAM_PATH...
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/help-options.sh"
dir=$1 version=$2
shift 2

failures=0
fail() { echo "$*" >&2; failures=$((failures + 1)); }

for path in "$@"; do
  program=$(basename "$path")
  page=$dir/$program.1
  [[ -f $page ]] || { fail "$program: no page $page"; continue; }
  # The page's text with roff's font changes and escaped hyphens undone.
  text=$(sed -e 's/\\f[BIRP]//g' -e 's/\\-/-/g' -e 's/\\&//g' "$page")
  count=0
  while IFS= read -r option; do
    count=$((count + 1))
    grep -qP "(?<![[:alnum:]-])$option(?![[:alnum:]-])" <<<"$text" \
      || fail "$program: $option is in --help but not on the page"
  done < <(help_options "$path")
  grep -q "^\.TH .*\"$program $version\"" "$page" || fail "$program: the page does not name version $version"
  if [[ $program == kvm-make-firmware ]]; then
    help=$("$path" --help)
    [[ ${help%%$'\n'*} == *"simulated switch only"* ]] || fail "$program: --help does not open with the warning"
    name=$(sed -n '/^\.SH NAME/{n;p;q}' "$page")
    [[ $name == *"simulated switch only"* ]] || fail "$program: the NAME line is '$name'"
  fi
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
  [[ -z $warnings ]] || fail "$program: man warns: $warnings"
  echo "$program(1): $count options of --help"
done
exit $((failures > 0))
