#!/bin/sh
# The Windows ZIP as a user gets it: made by cpack from the Windows build,
# holding the three programs, the readme and the licence; each program
# imports only DLLs that every Windows has, and carries the version record
# 1.0.0.4, an icon and its manifest (Common Controls 6, per-monitor DPI
# awareness).
#   check-package.sh BUILD_DIR OBJDUMP WINDRES VERSION
set -eu
build=$1 objdump=$2 windres=$3 version=$4
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
zip="$out/kvm-upgrade-$version-win64.zip"
[ -f "$zip" ] || { echo "no $zip"; ls "$out"; exit 1; }
(cd "$out" && cmake -E tar xf "$zip")
dir="$out/kvm-upgrade-$version-win64"
fail=0
for f in kvm-upgrade.exe kvm-upgrade-cli.exe kvm-make-firmware.exe README.txt LICENSE.txt; do
  [ -f "$dir/$f" ] || { echo "missing in the ZIP: $f"; fail=1; }
done
extra=$(cd "$dir" && ls | grep -v -x -e kvm-upgrade.exe -e kvm-upgrade-cli.exe -e kvm-make-firmware.exe -e README.txt \
  -e LICENSE.txt || true)
[ -z "$extra" ] || { echo "unexpected in the ZIP: $extra"; fail=1; }

# The DLLs of a bare Windows; anything else (libstdc++-6.dll,
# libwinpthread-1.dll, libgcc_s_seh-1.dll) would have to travel along.
system_dlls='^(KERNEL32|ADVAPI32|USER32|GDI32|COMDLG32|COMCTL32|SHELL32|msvcrt)\.dll$'
for exe in "$dir"/*.exe; do
  imports=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
  for dll in $imports; do
    echo "$dll" | grep -Eiq "$system_dlls" || { echo "$(basename "$exe") imports $dll"; fail=1; }
  done
  # The version record's strings are UTF-16.
  ver=$(LC_ALL=C tr -d '\000' <"$exe" | grep -a -c "FileVersion$version" || true)
  [ "$ver" -ge 1 ] || { echo "$(basename "$exe") has no FileVersion $version"; fail=1; }
  "$objdump" -h "$exe" | grep -q '\.rsrc' || { echo "$(basename "$exe") has no resources"; fail=1; }
  # Resource 1 of type 24 (RT_MANIFEST), as windres reads it back.
  manifest=$("$windres" -i "$exe" -O rc 2>/dev/null | sed -n '/^1 24 /,/^END/p' | tr -d '"')
  for want in name=Microsoft.Windows.Common-Controls version=6.0.0.0 '>true/pm<' '>PerMonitorV2,PerMonitor<'; do
    echo "$manifest" | grep -qF "$want" || { echo "$(basename "$exe"): its manifest lacks $want"; fail=1; }
  done
done
[ $fail -eq 0 ] && echo "ZIP: $(cd "$dir" && ls | tr '\n' ' ')"
exit $fail
