#!/usr/bin/env bash
# The .debs (kvm-upgrade-cli, kvm-upgrade, kvm-upgrade-testtools), in steps
# that ctest runs as tests of their own:
#   build BUILD_DIR OUT_DIR                       cpack -G DEB into OUT_DIR
#   contents OUT_DIR EXPECTED VERSION HARDENING   fields, files, stripped and
#       (HARDENING "hardened") hardened programs that run without the build tree
#   lintian OUT_DIR                               no error (E:) and no warning (W:)
#   dpkg OUT_DIR       dpkg installs the three into a scratch root, their
#                      programs run there, and dpkg removes every file again
#   apt OUT_DIR                                   apt-get can resolve their dependencies
# EXPECTED has a line "PACKAGE PATH" for each file of each package.
# Exit status 77: the step was skipped (lintian not installed).
set -euo pipefail
export LC_ALL=C

step=$1
shift
failures=0
fail() { echo "$*" >&2; failures=$((failures + 1)); }
debs() {
  local found=("$1"/*.deb)
  [[ -f ${found[0]} ]] || { echo "no .deb in $1" >&2; exit 1; }
  printf '%s\n' "${found[@]}"
}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

case $step in
build)
  build=$1 out=$2
  rm -rf "$out"
  mkdir -p "$out"
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 \
    || { cat "$out/cpack.log" >&2; exit 1; }
  debs "$out"
  ;;
contents)
  out=$1 expected=$2 version=$3 hardening=$4
  mapfile -t packages < <(awk '{ print $1 }' "$expected" | sort -u)
  made=$(debs "$out" | xargs -n1 basename | paste -sd ' ')
  wanted=$(printf '%s\n' "${packages[@]}" | sed "s/\$/_${version}_amd64.deb/" | sort | paste -sd ' ')
  [[ $made == "$wanted" ]] || fail "made $made, not $wanted"
  fortified=0
  for package in "${packages[@]}"; do
    deb=$out/${package}_${version}_amd64.deb
    [[ -f $deb ]] || continue
    dpkg-deb --field "$deb"
    echo
    [[ $(dpkg-deb --field "$deb" Package) == "$package" ]] || fail "$package: Package is not $package"
    [[ $(dpkg-deb --field "$deb" Version) == "$version" ]] || fail "$package: Version is not $version"
    depends=$(dpkg-deb --field "$deb" Depends)
    grep -qw libc6 <<<"$depends" || fail "$package: Depends does not name libc6: $depends"
    # Only the dialog needs Qt, and it needs its command line of the same version.
    if [[ $package == kvm-upgrade ]]; then
      grep -qw libqt6widgets6 <<<"$depends" || fail "$package: Depends does not name libqt6widgets6: $depends"
      grep -qF "kvm-upgrade-cli (= $version)" <<<"$depends" \
        || fail "$package: Depends does not name kvm-upgrade-cli (= $version): $depends"
    elif grep -qi qt <<<"$depends"; then
      fail "$package: Depends names Qt: $depends"
    fi
    # The package's files are the install's.
    files=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./|/|' | sort)
    if ! differences=$(diff <(awk -v p="$package" '$1 == p { print $2 }' "$expected" | sort) <(echo "$files")); then
      fail "$package: its files differ from $expected (< expected, > packaged):"$'\n'"$differences"
    fi
    # Its programs are stripped, hardened, and run without the build tree.
    root=$scratch/$package
    dpkg-deb --extract "$deb" "$root"
    for program in "$root"/usr/bin/*; do
      name=${program#"$root"}
      [[ $(file -b "$program") == *", stripped"* ]] || fail "$name is not stripped: $(file -b "$program")"
      printed=$("$program" --version) || true
      [[ $printed == "$version" ]] || fail "$name --version printed '$printed'"
      [[ $hardening == hardened ]] || continue
      # Read whole: grep -q would stop readelf mid-output, which pipefail counts.
      headers=$(readelf -lW "$program") dynamic=$(readelf -dW "$program") symbols=$(readelf --dyn-syms -W "$program")
      grep -q GNU_RELRO <<<"$headers" || fail "$name: no relro"
      grep -qE 'BIND_NOW|FLAGS.*\bNOW\b' <<<"$dynamic" || fail "$name: not bound now"
      grep -q __stack_chk_fail <<<"$symbols" || fail "$name: no stack protector"
      if grep -qE '__[a-z_]+_chk\b' <<<"$symbols"; then fortified=$((fortified + 1)); fi
    done
  done
  # _FORTIFY_SOURCE checks only the calls whose buffer sizes it knows, which
  # a program may not have; a build without it has none at all.
  [[ $hardening != hardened || $fortified -gt 0 ]] || fail "no program calls a fortified function"
  exit $((failures > 0))
  ;;
lintian)
  out=$1
  if ! command -v lintian >/dev/null; then
    echo "lintian is not installed: the packages are not checked by it"
    exit 77
  fi
  mapfile -t all < <(debs "$out")
  # lintian's own remark on running as root is no finding.
  report=$(lintian --display-info "${all[@]}" 2>&1 | grep -v 'running with root privileges' || true)
  [[ -n $report ]] && echo "$report"
  errors=$(grep -c '^E: ' <<<"$report" || true)
  warnings=$(grep -c '^W: ' <<<"$report" || true)
  echo "lintian: ${#all[@]} packages, $errors errors, $warnings warnings, $(grep -c '^I: ' <<<"$report" || true) notes"
  [[ $errors -eq 0 && $warnings -eq 0 ]]
  ;;
dpkg)
  out=$1
  mapfile -t all < <(debs "$out")
  # A root of its own, so the system's packages are never touched; its
  # dependencies are the system's, which dpkg there cannot see.
  root=$scratch/root
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
  touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
  dpkg=(dpkg --root="$root" --force-not-root --force-depends --log=/dev/null)
  "${dpkg[@]}" --install "${all[@]}" >/dev/null
  for deb in "${all[@]}"; do
    package=$(dpkg-deb --field "$deb" Package)
    status=$("${dpkg[@]}" --status "$package" | grep '^Status:')
    [[ $status == "Status: install ok installed" ]] || fail "$package: $status"
  done
  for program in "$root"/usr/bin/*; do
    "$program" --version >/dev/null || fail "${program#"$root"} --version failed"
    "$program" --help >/dev/null || fail "${program#"$root"} --help failed"
  done
  echo "installed and ran: $(cd "$root/usr/bin" && ls | paste -sd ' ')"
  "${dpkg[@]}" --purge $(for deb in "${all[@]}"; do dpkg-deb --field "$deb" Package; done) >/dev/null
  left=$(cd "$root" && find . ! -type d ! -path './var/lib/dpkg/*')
  [[ -z $left ]] || fail "left after removal:"$'\n'"$left"
  exit $((failures > 0))
  ;;
apt)
  out=$1
  mapfile -t all < <(debs "$out")
  # A simulation: nothing is installed, and no root is needed.
  apt-get install --simulate --no-install-recommends "${all[@]}"
  ;;
*)
  echo "unknown step $step" >&2
  exit 2
  ;;
esac
