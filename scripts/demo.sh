#!/usr/bin/env bash
# Builds kvm-upgrade and runs its main job. With no arguments: starts the
# simulated switch on a pseudo-terminal, maps it as COM1 and opens the dialog,
# with the sample firmware file that the build makes (with no display, it runs
# the same upgrade on the command line). With arguments (e.g. --map COM1=/dev/ttyUSB0,
# or --real to use the serial ports this machine has), they go to the dialog
# and no simulator is started.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh"

build="$root/build/release"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVM_BUILD_TESTS=OFF -DKVM_BUILD_BENCH=OFF >/dev/null
ninja -C "$build" -j"$(nproc)" kvm-upgrade kvm-upgrade-cli kvm-switch-sim sample_firmware | grep -v '^\[' || true

have_display() { [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; }

if [[ $# -gt 0 ]]; then
  [[ "$1" == "--real" ]] && shift
  if have_display; then exec "$build/ui/qt/kvm-upgrade" "$@"; fi
  echo "No display found: use $build/cli/kvm-upgrade-cli (see --help) with the same options."
  exit 1
fi

sample_dir="$build/sample"
sample="$sample_dir/hx5tra-7-12-25.bin"   # made by the build (target sample_firmware)
rm -f "$sample_dir/received.bin"
echo "Sample firmware file: $sample"

sim_out=$(mktemp)
"$build/tools/kvm-switch-sim" --line-timing --image-out "$sample_dir/received.bin" >"$sim_out" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -f "$sim_out"' EXIT
device=""
for _ in $(seq 100); do
  device=$(sed -n 's/^device: //p' "$sim_out")
  [[ -n "$device" ]] && break
  kill -0 $sim_pid 2>/dev/null || break
  sleep 0.05
done
[[ -n "$device" ]] || { echo "the simulated switch did not start" >&2; cat "$sim_out" >&2; exit 1; }
echo "Simulated switch on $device, mapped as COM1."

if have_display; then
  echo "Opening the dialog: press Select File, choose the sample file, then Upgrade."
  "$build/ui/qt/kvm-upgrade" --map COM1="$device"
else
  echo "No display found: running the same upgrade on the command line."
  "$build/cli/kvm-upgrade-cli" upgrade --map COM1="$device" --port COM1 --yes "$sample"
  # The switch writes what it received, then reports the end-of-image frame.
  for _ in $(seq 100); do
    grep -q '^end of image' "$sim_out" && break
    sleep 0.05
  done
  if cmp -s "$sample" "$sample_dir/received.bin"; then
    echo "The simulated switch received an image identical to $sample."
  fi
fi
