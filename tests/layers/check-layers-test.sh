#!/usr/bin/env bash
# The layer check on a small tree of its own: a tree whose includes all point
# down passes, and each wrong include, alone in an otherwise good tree, fails
# with the file and the include named.
set -euo pipefail

check=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)/check-layers.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# folder/file.cpp:include, for a tree that follows every rule.
good=(
  options/a.cpp:options/a.h
  serial/a.cpp:serial/a.h serial/b.cpp:options/a.h
  firmware/a.cpp:firmware/a.h firmware/b.cpp:options/a.h
  kvm/a.cpp:kvm/a.h kvm/b.cpp:serial/a.h kvm/c.cpp:firmware/a.h kvm/d.cpp:kvm/Version.h
  ui/a.cpp:ui/a.h ui/b.cpp:kvm/a.h ui/c.cpp:serial/a.h ui/d.cpp:firmware/a.h ui/e.cpp:options/a.h
  cli/a.cpp:cli/a.h cli/b.cpp:kvm/a.h cli/c.cpp:serial/a.h cli/d.cpp:firmware/a.h
  tools/a.cpp:tools/a.h tools/b.cpp:serial/a.h tools/c.cpp:firmware/a.h
  tests/a.cpp:tools/a.h tests/b.cpp:ui/a.h tests/c.cpp:cli/a.h tests/d.cpp:tests/a.h
  bench/a.cpp:tools/a.h bench/b.cpp:cli/a.h
  ui/f.cpp:QWidget ui/g.cpp:Local.h
  outcome/a.cpp:kvm/a.h outcome/b.cpp:serial/a.h cli/e.cpp:outcome/a.h ui/h.cpp:outcome/a.h
  ui/qt/a.cpp:ui/qt/a.h ui/qt/b.cpp:ui/a.h ui/win32/a.cpp:ui/win32/a.h ui/win32/b.cpp:kvm/a.h ui/win32/c.cpp:ui/a.h
)
# One wrong include each.
bad=(
  serial/x.cpp:firmware/a.h serial/x.cpp:kvm/a.h
  firmware/x.cpp:kvm/SharedState.h firmware/x.cpp:serial/a.h
  options/x.cpp:serial/a.h
  kvm/x.cpp:ui/a.h kvm/x.cpp:cli/a.h kvm/x.cpp:tools/a.h
  ui/x.cpp:cli/a.h cli/x.cpp:ui/a.h
  ui/x.h:tools/a.h cli/x.cpp:tests/a.h kvm/x.cpp:bench/a.h serial/x.cpp:tests/a.h
  tools/x.cpp:kvm/a.h tools/x.cpp:ui/a.h tools/x.cpp:cli/a.h
  ui/qt/x.cpp:ui/win32/a.h ui/win32/x.cpp:ui/qt/a.h ui/x.cpp:ui/win32/a.h ui/win32/x.cpp:cli/a.h
  newfront/x.cpp:kvm/a.h
  outcome/x.cpp:cli/a.h kvm/x.cpp:outcome/a.h cli/x.cpp:kvm/OperationReport.h ui/x.cpp:kvm/OperationReport.h
)

make_tree() { # dir entries...
  local dir=$1; shift
  rm -rf "$dir"
  for entry in "$@"; do
    local file=${entry%%:*}
    mkdir -p "$dir/$(dirname "$file")"
    printf '#include <string>\n#include "%s"\n' "${entry#*:}" >>"$dir/$file"
  done
  mkdir -p "$dir/docs" "$dir/build/ci/ui"
  echo '#include "cli/a.h"' >"$dir/build/ci/ui/generated.cpp"
}

failed=0
make_tree "$work/tree" "${good[@]}"
if ! out=$(bash "$check" "$work/tree" 2>&1); then
  echo "FAIL: the good tree was refused: $out"
  failed=1
fi
for entry in "${bad[@]}"; do
  make_tree "$work/tree" "${good[@]}" "$entry"
  file=${entry%%:*}
  include=${entry#*:}
  if out=$(bash "$check" "$work/tree" 2>&1); then
    echo "FAIL: $file including $include passed"
    failed=1
  elif [[ $file == newfront/* && $out != *"newfront/ has no layer rule"* ]] \
    || [[ $file != newfront/* && ( $out != *"$file"* || $out != *"\"$include\""* ) ]]; then
    echo "FAIL: $file including $include: the message does not name them: $out"
    failed=1
  fi
done
((failed == 0)) && echo "check-layers: ${#bad[@]} wrong includes refused, the good tree passed"
exit "$failed"
