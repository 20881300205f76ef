#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR with prefix /usr, prints what was
# installed and compares it with the expected list (its second column: every
# package's files); then runs each installed program's --version, which must
# print the project's version, and its --help.
# Usage: check-install.sh BUILD_DIR EXPECTED_LIST VERSION [--without-man]
set -euo pipefail
export LC_ALL=C

build=$1 expected=$2 version=$3 without_man=${4:-}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
installed=$(cd "$root" && find . \( -type f -o -type l \) | sed 's|^\.||' | sort)
echo "installed:"
echo "$installed"

wanted=$(awk '{ print $2 }' "$expected" | sort)
if [[ $without_man == --without-man ]]; then
  wanted=$(grep -v '^/usr/share/man/' <<<"$wanted")
fi
if ! differences=$(diff <(echo "$wanted") <(echo "$installed")); then
  echo "the installed files differ from $expected (< expected, > installed):" >&2
  echo "$differences" >&2
  exit 1
fi

failures=0
for program in "$root"/usr/bin/*; do
  printed=$("$program" --version)
  if [[ $printed != "$version" ]]; then
    echo "${program#"$root"} --version printed '$printed', not '$version'" >&2
    failures=$((failures + 1))
  fi
  "$program" --help >/dev/null || { echo "${program#"$root"} --help failed" >&2; failures=$((failures + 1)); }
done
exit $((failures > 0))
