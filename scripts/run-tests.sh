#!/usr/bin/env bash
# Builds kvm-upgrade and runs every test: the Windows programs cross-built
# with MinGW and tested under Wine, the Linux build once plainly (warnings
# are errors, with the Windows programs run under Wine against the simulated
# switch), once under AddressSanitizer + UndefinedBehaviorSanitizer, the dialog tests
# under ThreadSanitizer, and the firmware loader's fuzz target for a bounded
# time. Installs what is missing first, and checks the layers' includes
# before it builds anything.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$root/scripts/install-deps.sh" --windows

jobs=$(nproc)
summary=()
passed_total=0
failed_total=0

# The five configurations are CMakePresets.json's; dir is the preset's binaryDir.
# When the current stage (its build and its tests) began, for the summary.
stage_start=$SECONDS

configure_and_build() {
  stage_start=$SECONDS
  local preset=$1; shift
  local dir=$1; shift
  local targets=$1; shift
  (cd "$root" && cmake --preset "$preset") >/dev/null
  # shellcheck disable=SC2086
  if ! ninja -C "$root/$dir" -j"$jobs" $targets >"$root/$dir/build.log" 2>&1; then
    grep -v '^\[' "$root/$dir/build.log" >&2
    echo "build failed in $dir" >&2
    exit 1
  fi
}

run_ctest() {
  local name=$1; shift
  local dir=$1; shift
  local log="$root/$dir/ctest.log"
  echo "== $name"
  set +e
  ctest --test-dir "$root/$dir" --output-on-failure --timeout 600 "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local line total failed
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  failed=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  total=${total:-0}; failed=${failed:-0}
  if [[ $rc -ne 0 && $failed -eq 0 ]]; then failed=1; fi
  passed_total=$((passed_total + total - failed))
  failed_total=$((failed_total + failed))
  summary+=("$name: $((total - failed)) passed, $failed failed ($((SECONDS - stage_start)) s with its build)")
}

# Includes that cross the layers the wrong way fail before anything is built.
bash "$root/scripts/check-layers.sh" "$root" >/dev/null

# 1. Windows: the programs cross-built with MinGW, their unit tests run as
# .exe under Wine (in a Wine prefix of the build folder), and the ZIP.
configure_and_build mingw build/mingw all
run_ctest "windows (under wine)" build/mingw -j2

# 2. The plain build, warnings as errors; it also runs the Windows programs
# of step 1 under Wine against the simulated switch (label wine).
configure_and_build plain build/ci all
run_ctest "plain" build/ci -j2

# 3. Memory faults: the whole suite again under ASan + UBSan.
configure_and_build asan build/asan all
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
LSAN_OPTIONS=suppressions="$root/tests/lsan.supp":print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest "asan+ubsan" build/asan -j2

# 4. Every test that runs the worker thread, under ThreadSanitizer: the
# dialog's, the operations' and the command line's.
configure_and_build tsan build/tsan "ui_tests kvm_tests cli_tests kvm-upgrade-cli"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_ctest "tsan (dialog, operations, command line)" \
  build/tsan -j2 -L "^(ui|kvm|cli)$"

# 5. The firmware loader's fuzz target, for a bounded time.
configure_and_build fuzz build/fuzz fuzz_loader
run_ctest "fuzz" build/fuzz -R "^fuzz_loader"

echo
printf '%s\n' "${summary[@]}"
echo "all: $passed_total passed, $failed_total failed in $SECONDS s"
[[ $failed_total -eq 0 ]]
