#!/usr/bin/env bash
# The .deb, in four steps that ctest runs as tests of their own:
#   build BUILD_DIR OUT_DIR             cpack -G DEB into OUT_DIR
#   contents OUT_DIR EXPECTED VERSION   its fields and files; its kvm-upgrade-cli runs
#   lintian OUT_DIR                     no error (E:); warnings (W:) are printed
#   apt OUT_DIR                         apt-get can resolve its dependencies
# Exit status 77: the step was skipped (lintian not installed).
set -euo pipefail
export LC_ALL=C

step=$1
shift
package() {
  local found=("$1"/kvm-upgrade_*.deb)
  [[ -f ${found[0]} ]] || { echo "no kvm-upgrade_*.deb in $1" >&2; exit 1; }
  echo "${found[0]}"
}

case $step in
build)
  build=$1 out=$2
  rm -rf "$out"
  mkdir -p "$out"
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 \
    || { cat "$out/cpack.log" >&2; exit 1; }
  package "$out"
  ;;
contents)
  out=$1 expected=$2 version=$3
  deb=$(package "$out")
  [[ $(basename "$deb") == "kvm-upgrade_${version}_amd64.deb" ]] || { echo "named $(basename "$deb")" >&2; exit 1; }
  dpkg-deb --info "$deb"
  failures=0
  fail() { echo "$*" >&2; failures=$((failures + 1)); }
  depends=$(dpkg-deb --field "$deb" Depends)
  [[ -n $depends ]] || fail "Depends is empty"
  grep -qw libqt6widgets6 <<<"$depends" || fail "Depends does not name libqt6widgets6: $depends"
  [[ $(dpkg-deb --field "$deb" Package) == kvm-upgrade ]] || fail "Package is not kvm-upgrade"
  [[ $(dpkg-deb --field "$deb" Version) == "$version" ]] || fail "Version is not $version"
  # The package's files are the install's.
  files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort)
  if ! differences=$(diff <(sort "$expected") <(echo "$files")); then
    fail "the package's files differ from $expected (< expected, > packaged):"$'\n'"$differences"
  fi
  # Its program runs, stripped, without the build tree.
  root=$(mktemp -d)
  trap 'rm -rf "$root"' EXIT
  dpkg-deb --extract "$deb" "$root"
  printed=$("$root/usr/bin/kvm-upgrade-cli" --version) || true
  [[ $printed == "$version" ]] || fail "the packaged kvm-upgrade-cli --version printed '$printed'"
  exit $((failures > 0))
  ;;
lintian)
  out=$1
  deb=$(package "$out")
  if ! command -v lintian >/dev/null; then
    echo "lintian is not installed: the package is not checked by it"
    exit 77
  fi
  # lintian's own remark on running as root is no finding.
  report=$(lintian --info "$deb" 2>&1 | grep -v 'running with root privileges' || true)
  [[ -n $report ]] && echo "$report"
  if grep -q '^E: ' <<<"$report"; then
    exit 1
  fi
  echo "lintian: no errors, $(grep -c '^W: ' <<<"$report" || true) warnings"
  ;;
apt)
  out=$1
  deb=$(package "$out")
  # A simulation: nothing is installed, and no root is needed.
  apt-get install --simulate --no-install-recommends "$deb"
  ;;
*)
  echo "unknown step $step" >&2
  exit 2
  ;;
esac
