#!/usr/bin/env bash
# Runs kvm-upgrade-cli in a small Linux guest under QEMU (software
# emulation), through the kernel's own serial drivers: the guest's 16550
# UART (8250) and QEMU's FT232 on an xHCI bus (ftdi_sio), each wired to a
# simulated switch on this host. The guest's /init (guest-init.sh) runs
# the upgrades and reports on its console; what each switch stored judges
# them here. Skips (77), saying why, without QEMU or the kernel's package.
# Usage: guest-test.sh KVM_UPGRADE_CLI KVM_SWITCH_SIM KVM_MAKE_FIRMWARE CACHE_DIR
set -euo pipefail
export LC_ALL=C

cli=$1 sim=$2 make_firmware=$3 cache=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
started=$SECONDS
skip() {
  echo "SKIP: $*"
  exit 77
}
for tool in qemu-system-x86_64 cpio dpkg-deb apt-get python3; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
busybox=$(dpkg -L busybox-static 2>/dev/null | grep -m1 '/bin/busybox$') ||
  skip "busybox-static is not installed (scripts/install-deps.sh installs it)"

# The kernel: the package linux-image-amd64 stands for now, fetched once
# into the cache; of it only the kernel and the modules the drivers need
# are kept.
kpkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
  awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }') || true
[[ -n $kpkg ]] || skip "apt knows no linux-image-amd64 (no package lists: apt-get update)"
kver=${kpkg#linux-image-}
kdir=$cache/$kver
wanted="xhci-pci ftdi_sio"
layout="$wanted; kernel unpacked"
if [[ "$(cat "$kdir/layout" 2>/dev/null)" != "$layout" ]]; then
  mkdir -p "$cache"
  debs=("$cache/${kpkg}"_*.deb)
  if [[ ! -e ${debs[0]} ]]; then
    echo "fetching $kpkg into $cache"
    (cd "$cache" && apt-get download -q -o APT::Sandbox::User=root "$kpkg") >"$cache/fetch.log" 2>&1 ||
      skip "$kpkg cannot be downloaded: $(grep -m1 '^E:' "$cache/fetch.log" || tail -n 1 "$cache/fetch.log")"
    debs=("$cache/${kpkg}"_*.deb)
  fi
  # Older kernels' files go: the cache holds the current one only.
  find "$cache" -mindepth 1 -maxdepth 1 ! -name "${kpkg}_*.deb" ! -name fetch.log -exec rm -rf {} +
  unpacked=$cache/unpacked
  if ! dpkg-deb -x "${debs[0]}" "$unpacked"; then
    rm -rf "${debs[0]}" "$unpacked"
    echo "FAIL: ${debs[0]} cannot be unpacked (cut short?): removed, to be fetched again" >&2
    exit 1
  fi
  mods=$unpacked/lib/modules/$kver
  mkdir -p "$kdir/modules"
  # Unpacked here once rather than by the emulated processor at every boot
  # (some 10 s): the kernel within, booted through its PVH entry. A kernel
  # packed otherwise than with xz boots as it is.
  python3 - "$unpacked/boot/vmlinuz-$kver" "$kdir/kernel" <<'PY'
import lzma, sys
data = open(sys.argv[1], "rb").read()
at = data.find(b"\xfd7zXZ\x00")
kernel = lzma.LZMADecompressor().decompress(data[at:]) if at >= 0 else b""
open(sys.argv[2], "wb").write(kernel if kernel.startswith(b"\x7fELF") else data)
PY
  declare -A loaded=()
  order=()
  add_module() { # add_module NAME: its file, after those of the modules it needs
    local name=$1 path dep
    [[ -z ${loaded[${name//-/_}]:-} ]] || return 0
    loaded[${name//-/_}]=1
    path=$(grep -m1 -E "/${name//[-_]/[-_]}\.ko$" "$mods/modules.order") || {
      grep -qE "/${name//[-_]/[-_]}\.ko$" "$mods/modules.builtin" && return 0
      echo "FAIL: $kpkg has no module $name" >&2
      exit 1
    }
    for dep in $(tr '\0' '\n' <"$mods/$path" | sed -n 's/^depends=//p' | tr ',' ' '); do
      add_module "$dep"
    done
    cp "$mods/$path" "$kdir/modules/"
    order+=("$(basename "$path")")
  }
  for module in $wanted; do add_module "$module"; done
  printf '%s\n' "${order[@]}" >"$kdir/load-order"
  rm -rf "$unpacked"
  echo "$layout" >"$kdir/layout"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The initramfs: busybox, the modules, the program with the shared libraries
# it loads, each from a Debian package, and the firmware files.
root=$work/root
mkdir -p "$root/bin" "$root/modules" "$root/fw"
cp "$busybox" "$root/bin/busybox"
install -m 755 "$here/guest-init.sh" "$root/init"
cp "$kdir/modules/"*.ko "$kdir/load-order" "$root/modules/"
strip --strip-debug -o "$root/bin/kvm-upgrade-cli" "$cli"
packaged() { # with /usr merged, a package names its file with or without /usr
  dpkg -S "$1" || dpkg -S "/usr$1" || dpkg -S "${1#/usr}"
} >/dev/null 2>&1
for lib in $(env -u LD_LIBRARY_PATH -u LD_PRELOAD ldd "$cli" | grep -oE '/[^ ]+'); do
  packaged "$lib" || { echo "FAIL: $lib, which $cli loads, is in no Debian package" >&2; exit 1; }
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
# The adapter's first image has 59 blocks: the unplug waits for a count
# (80) that only the second one reaches, 432 blocks before its end.
"$make_firmware" --size 20000 --seed 1 "$root/fw/uart.bin"
"$make_firmware" --size 15000 --seed 2 "$root/fw/ftdi.bin"
"$make_firmware" --size 131072 --seed 3 "$root/fw/unplug.bin"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs"

# start_sim NAME ARGS...: a switch on pts[NAME], its output read on sim_fd[NAME].
declare -A sim_fd=() pts=()
start_sim() {
  local name=$1 fd line
  shift
  exec {fd}< <(exec "$sim" "$@")
  pids+=("$!")
  sim_fd[$name]=$fd
  if ! IFS= read -r -t 10 -u "$fd" line || [[ $line != "device: "* ]]; then
    echo "FAIL: the $name switch did not start: $line" >&2
    exit 1
  fi
  pts[$name]=${line#device: }
}
# Back at once after an upgrade: the adapter's switch takes a second one.
start_sim uart --restart-ms 0 --image-out "$work/uart.stored"
start_sim ftdi --restart-ms 0 --show-blocks --image-out "$work/ftdi.stored"

# Software emulation, as in CI, which has no /dev/kvm; the console is ttyS0
# on stdout, the switches' UART ttyS1.
exec {console}< <(exec qemu-system-x86_64 -accel tcg -machine pc -m 256 -nodefaults -no-user-config \
  -display none -no-reboot -kernel "$kdir/kernel" -initrd "$work/initramfs" \
  -append "console=ttyS0 loglevel=1 panic=-1" -serial stdio \
  -chardev "serial,id=uart,path=${pts[uart]}" -device isa-serial,chardev=uart \
  -device qemu-xhci,id=xhci -chardev "serial,id=ftdi-line,path=${pts[ftdi]}" \
  -device usb-serial,id=ftdi,bus=xhci.0,chardev=ftdi-line \
  -monitor "unix:$work/monitor,server=on,wait=off" </dev/null 2>&1)
pids+=("$!")

# unplug_after BLOCKS: once the adapter's switch has stored that many
# blocks of an image, the adapter is pulled out through QEMU's monitor.
unplug_after() {
  local line
  while IFS= read -r -t 60 -u "${sim_fd[ftdi]}" line; do
    [[ $line =~ ^blocks\ stored\ ([0-9]+) ]] || continue
    ((BASH_REMATCH[1] >= $1)) || continue
    python3 - "$work/monitor" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall(b"device_del ftdi\n")
s.settimeout(30)
seen = b""
while b"device_del ftdi" not in seen:
    seen += s.recv(4096) or sys.exit("the monitor closed")
PY
    echo "unplugged after $line"
    return 0
  done
  fail "the adapter's switch never stored $1 blocks"
}

declare -A status=() ms=()
mkdir -p "$work/runs"
name=""
while :; do
  IFS= read -r -t $((started + 240 - SECONDS)) -u "$console" line || break
  line=${line%$'\r'}
  printf '%s\n' "$line" >>"$work/console.log"
  [[ $line == "@@ "* ]] || continue
  read -r name what rest <<<"${line#@@ }"
  case "$name $what" in
  *.out\ * | *.err\ *) printf '%s\n' "${line#@@ "$name" }" >>"$work/runs/$name" ;;
  "done " | fatal\ *) break ;;
  "unplug begins") unplug_after 80 ;;
  *\ exit)
    read -r code _ time <<<"$rest"
    status[$name]=$code ms[$name]=$time
    touch "$work/runs/$name.out" "$work/runs/$name.err"
    echo "guest: $name exit $code in $time ms"
    ;;
  *) echo "guest: ${line#@@ }" ;;
  esac
done
if [[ $name != "done" ]]; then
  echo "FAIL: the guest did not finish (${line:-nothing more}); its console's end:" >&2
  tail -n 30 "$work/console.log" >&2
  exit 1
fi
kill "${pids[@]}" 2>/dev/null || true
stored=$(grep '^blocks stored' <&"${sim_fd[ftdi]}" | tail -n 1) || true

expect_exit() { # expect_exit RUN STATUS
  [[ ${status[$1]:-none} == "$2" ]] || {
    fail "$1: exit ${status[$1]:-none}, expected $2"
    sed "s/^/  $1: /" "$work/runs/$1.err" "$work/runs/$1.out" 2>/dev/null | tail -n 12 >&2
  }
}
cause() { grep '^kvm-upgrade-cli: ' "$work/runs/$1.err" | tail -n 1; }
field() { python3 -c 'import json, sys; print(json.load(open(sys.argv[1])).get(sys.argv[2]))' "$@"; }

expect_exit list 0
# An entry is its "COMn  DEVICE" line and the indented lines after it.
listed() {
  awk -v dev="$1" '/^[^ ]/ { inside = ($1 ~ /^COM[0-9]+$/ && $2 == dev) } inside' "$work/runs/list.out" |
    grep -q "$2"
}
{ listed /dev/ttyUSB0 'driver ftdi_sio, USB 0403:6001' && listed /dev/ttyS1 'driver serial'; } ||
  fail "list: the adapter (ftdi_sio, USB 0403:6001) or the UART is not shown: $(cat "$work/runs/list.out")"

for run in uart ftdi; do
  expect_exit $run 0
  cmp -s "$root/fw/$run.bin" "$work/$run.stored" || fail "$run: the switch did not store the file byte for byte"
done
latency=$(grep -h '^@@ latency' "$work/console.log" | tr '\n' ' ')
[[ $latency == "@@ latency before 16 @@ latency during 1 after 16 " ]] ||
  fail "ftdi: the latency timer was not 16, 1 during the upgrade, then 16: $latency"

expect_exit busy 5
holder=$(sed -n 's/^@@ holder //p' "$work/console.log")
[[ "$(cause busy)" == *"held by ${holder/ /, pid }"* ]] ||
  fail "busy: the cause does not name the holder ($holder): $(cause busy)"

expect_exit unplug 7
[[ "$(cause unplug)" == *"the line hung up"* ]] || fail "unplug: the cause is not the hang-up: $(cause unplug)"
grep -q '^{' "$work/runs/unplug.out" && sent=$(field "$work/runs/unplug.out" bytes_sent) || sent=none
if ! [[ $sent =~ ^[0-9]+$ && $stored =~ bytes\ ([0-9]+)$ ]] || ((sent > BASH_REMATCH[1])); then
  fail "unplug: bytes_sent $sent against the switch's '$stored'"
fi

times=""
for run in list uart ftdi busy unplug; do times+=" $run ${ms[$run]:-?} ms,"; done
echo "in the guest:${times%,}; wall time $((SECONDS - started)) s, $failures failed"
((failures == 0))
