#!/usr/bin/env bash
# Fails when an #include "folder/..." points up the layers or sideways
# between front ends. Usage: check-layers.sh [SOURCE_ROOT]
# The rules, bottom to top (docs/architecture.md says why):
#   options/, serial/, firmware/  each only itself
#   kvm/                          kvm/ and the bottom layer
#   outcome/                      itself, kvm/ and the bottom layer: what a run came to
#   ui/, cli/                     themselves, outcome/, kvm/ and the bottom layer; never
#                                 each other, and never what outcome/ alone reads of a run
#   ui/qt/, ui/win32/             the two dialogs: never each other; ui/ itself (what
#                                 they share) includes neither
#   tools/                        itself and the bottom layer: the simulator is the
#                                 independent check on the product, so never kvm/ or above
#   tests/, bench/                anything
# Every top-level folder with C++ sources must have a rule here, so that a new
# one (a second dialog, say) cannot slip past the check.
set -euo pipefail

root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

declare -A allowed=(
  [options]="options"
  [serial]="serial options"
  [firmware]="firmware options"
  [kvm]="kvm serial firmware options"
  [outcome]="outcome kvm serial firmware options"
  [ui]="ui outcome kvm serial firmware options"
  [cli]="cli outcome kvm serial firmware options"
  [tools]="tools serial firmware options"
  [tests]="*"
  [bench]="*"
)

# One grep hit, file:line:#include "target/...", into file, line and include;
# false when the line names no quoted include.
split_hit() {
  local rest=${1#*:}
  file=${1%%:*}
  line=${rest%%:*}
  [[ ${rest#*:} =~ \"([^\"]*)\" ]] || return 1
  include=${BASH_REMATCH[1]}
}

failures=0
cd "$root"
for dir in */; do
  folder=${dir%/}
  # Build trees (build/, or any other holding a CMake cache) hold generated code.
  [[ $folder == build* ]] && continue
  [[ -n $(find "$folder" -maxdepth 3 -name CMakeCache.txt -print -quit) ]] && continue
  if [[ -z $(find "$folder" -type f \( -name '*.cpp' -o -name '*.h' \) -print -quit) ]]; then
    continue
  fi
  if [[ -z ${allowed[$folder]+set} ]]; then
    echo "check-layers: $folder/ has no layer rule; add one to scripts/check-layers.sh and docs/architecture.md" >&2
    failures=$((failures + 1))
    continue
  fi
  rule=${allowed[$folder]}
  [[ $rule == "*" ]] && continue
  # file:line:#include "target/..."
  while IFS= read -r hit; do
    split_hit "$hit" || continue
    target=${include%%/*}
    # Only the project's own folders are ruled on; anything else is not ours.
    [[ $include == */* && -n ${allowed[$target]+set} ]] || continue
    if [[ " $rule " != *" $target "* ]]; then
      echo "check-layers: $file:$line: #include \"$include\": $folder/ may include only ${rule// //, }/" >&2
      failures=$((failures + 1))
    fi
  done < <(grep -rnE --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$folder" || true)
done

# Inside ui/: each dialog is its window system's alone, and what they share
# knows neither.
declare -A forbidden_in_ui=(
  [ui/qt]="ui/win32"
  [ui/win32]="ui/qt"
  [ui]="ui/qt ui/win32"
)
for part in "${!forbidden_in_ui[@]}"; do
  [[ -d $part ]] || continue
  depth=()
  [[ $part == ui ]] && depth=(--exclude-dir=qt --exclude-dir=win32)
  while IFS= read -r hit; do
    split_hit "$hit" || continue
    for banned in ${forbidden_in_ui[$part]}; do
      if [[ $include == "$banned"/* ]]; then
        echo "check-layers: $file:$line: #include \"$include\": $part/ may not include $banned/" >&2
        failures=$((failures + 1))
      fi
    done
  done < <(grep -rnE "${depth[@]}" --include='*.cpp' --include='*.h' --include='*.rc' \
             '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$part" || true)
done

# The front ends render what outcome/ decides: the operations' own report,
# the probe's result codes and the outcome words are outcome/'s to read.
front_end_banned='#[[:space:]]*include[[:space:]]*"kvm/OperationReport\.h"|\bkProbe(FoundByScan|FoundOnNamedPort|ScanFoundNothing|NamedPortSilent|NamedPortFailed)\b|\bprobeResult\b|\bLastReport\(|"(done|nothing-to-do|declined|usage|refused|port-unavailable|port-busy|no-switch|transfer-failed|interrupted)"'
for front in cli ui; do
  [[ -d $front ]] || continue
  while IFS= read -r hit; do
    rest=${hit#*:}
    echo "check-layers: ${hit%%:*}:${rest%%:*}: ${rest#*:}: a front end reads what only outcome/ may (the operations' report, probe codes, outcome words)" >&2
    failures=$((failures + 1))
  done < <(grep -rnE --include='*.cpp' --include='*.h' "$front_end_banned" "$front" || true)
done

if ((failures > 0)); then
  echo "check-layers: $failures break(s) of the layers (see docs/architecture.md)" >&2
  exit 1
fi
echo "check-layers: every include points down"
