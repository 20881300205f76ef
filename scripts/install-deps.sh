#!/usr/bin/env bash
# Installs what building and testing kvm-upgrade needs on Debian 12, and says
# nothing when everything is already there (the next to last line of the list
# is for the manual pages, the .debs and their checks, the last for the test in
# a QEMU guest). --windows adds what the Windows programs need: the MinGW-w64
# cross compiler, wixl and msitools for their MSI, and Wine to test them.
# --debs installs only what building the .debs needs (scripts/build-debs.sh):
# no test tools.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev nlohmann-json3-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation
  xvfb xauth libxcb-cursor0 python3
  clang libclang-rt-14-dev
  help2man man-db desktop-file-utils appstream dpkg-dev file lintian zsh
  qemu-system-x86 busybox-static cpio
)
# Terminal programs that hold a serial port without any lock: the tests'
# other program on the line.
packages+=(minicom screen)
# The Ansible collection's test: ansible-core, and an sshd of its own. Their
# recommends (the whole "ansible" package of collections, a logind) stay out:
# the collection needs nothing but ansible-core.
lean_packages=(ansible-core openssh-server)
case "${1:-}" in
--windows)
  packages+=(g++-mingw-w64-x86-64-posix mingw-w64-tools wixl msitools wine wine64) ;;
--debs)
  packages=(cmake ninja-build g++ pkg-config nlohmann-json3-dev qt6-base-dev qt6-base-dev-tools libgl-dev
    help2man dpkg-dev file)
  lean_packages=() ;;
esac

missing=() lean_missing=()
for p in "${packages[@]}" "${lean_packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
  [[ "$status" == ii* ]] && continue
  if [[ " ${lean_packages[*]} " == *" $p "* ]]; then lean_missing+=("$p"); else missing+=("$p"); fi
done
[[ ${#missing[@]} -eq 0 && ${#lean_missing[@]} -eq 0 ]] && exit 0
missing_all=("${missing[@]}" "${lean_missing[@]}")

echo "Installing: ${missing_all[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing_all[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
# The package manager's chatter (and debconf's, on stderr) goes to a log that
# is shown only when something fails.
log=$(mktemp)
if ! {
  $sudo apt-get update -qq &&
    { ((${#missing[@]} == 0)) || $sudo apt-get install -y -qq "${missing[@]}"; } &&
    { ((${#lean_missing[@]} == 0)) || $sudo apt-get install -y -qq --no-install-recommends "${lean_missing[@]}"; }
} >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "installing ${missing_all[*]} failed" >&2
  exit 1
fi
rm -f "$log"
