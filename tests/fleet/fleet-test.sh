#!/usr/bin/env bash
# Runs docs/fleet-upgrade.sh against simulated switches, one per "host",
# with ssh-shim.sh as its ssh: each host's kvm-upgrade-cli is the real one,
# given --map COM1=<that host's switch>. What each switch stored is the
# judge of every upgrade.
# Usage: fleet-test.sh FLEET_SCRIPT KVM_UPGRADE_CLI KVM_SWITCH_SIM KVM_MAKE_FIRMWARE
set -euo pipefail
export LC_ALL=C

fleet=$1 cli=$2 sim=$3 make_firmware=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
declare -A sim_pid=() sim_fd=()
stop_sims() {
  local host
  for host in "${!sim_pid[@]}"; do
    kill "${sim_pid[$host]}" 2>/dev/null || true
    wait "${sim_pid[$host]}" 2>/dev/null || true
    unset "sim_pid[$host]"
  done
}
trap 'stop_sims; rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
field() { # field FILE KEY...: a value of a JSON file, None when absent
  python3 -c '
import json, sys
v = json.load(open(sys.argv[1]))
for k in sys.argv[2:]:
    v = v.get(k) if isinstance(v, dict) else None
print(v)' "$@"
}

export FLEET_HOSTS=$work/hosts FLEET_BIN=$work/bin
mkdir -p "$FLEET_BIN"
# A host whose folder holds "interrupt" has its upgrade aborted by two
# SIGTERMs: the first once the upgrade's worker runs, after the version check
# and the confirmation (it only warns), the second at the warning.
printf '#!/usr/bin/env bash\ncli=%q\n' "$cli" >"$FLEET_BIN/kvm-upgrade-cli"
cat >>"$FLEET_BIN/kvm-upgrade-cli" <<'EOF'
[[ -e interrupt ]] || exec "$cli" --map "COM1=$FLEET_SWITCH" "$@"
exec 3>&1
coproc run { exec "$cli" --map "COM1=$FLEET_SWITCH" "$@" 2>&1 >&3; }
pid=$run_PID
confirmed=0
while IFS= read -r line <&"${run[0]}"; do
  printf '%s\n' "$line" >&2
  case $line in
    *"--yes given"*) confirmed=1 ;;
    "Searching KVM"*) ((!confirmed)) || kill -TERM "$pid" ;;
    *"press Ctrl-C again"*) kill -TERM "$pid" ;;
  esac
done
wait "$pid"
EOF
chmod +x "$FLEET_BIN/kvm-upgrade-cli"
firmware=$work/fw-1-1-26.bin
"$make_firmware" --size 4096 --date 1-1-26 "$firmware"

# Run 1 plays both hosts in one batch; in run 2 gamma's switch hangs up
# mid-image in batch 1, so batch 2 (delta) must never start; in run 3
# epsilon's upgrade is interrupted while its switch erases (nothing
# acknowledged, but the erase may have begun), so zeta must never start.
declare -A run_batch=([1]=2 [2]=1 [3]=1) run_exit=([1]=0 [2]=3 [3]=3)
# run host    switch date  fault                    expected result
table='
1     alpha   7-12-25      -                        upgraded
1     beta    1-1-26       -                        current
2     gamma   7-12-25      --hangup-after-block=2   may-not-start
2     delta   7-12-25      -                        not-started
3     epsilon 7-12-25      interrupt                may-not-start
3     zeta    7-12-25      -                        not-started
'

for run in 1 2 3; do
  hosts_file=$work/run$run.hosts out=$work/run$run
  : >"$hosts_file"
  run_hosts=()
  while read -r r host date fault expected; do
    [[ $r == "$run" ]] || continue
    run_hosts+=("$host")
    echo "$host COM1" >>"$hosts_file"
    home=$FLEET_HOSTS/$host
    mkdir -p "$home/tmp"
    # Back at once after an upgrade: a host's runs follow each other.
    args=(--date "$date" --restart-ms 0 --image-out "$home/image.bin" --link "$home/switch")
    if [[ $fault == interrupt ]]; then
      touch "$home/interrupt"
      args+=(--go-ahead-delay-ms=20000)
    elif [[ $fault != - ]]; then
      args+=("$fault")
    fi
    exec {fd}< <(exec "$sim" "${args[@]}" 2>&1)
    sim_pid[$host]=$! sim_fd[$host]=$fd
    # The link is made after the device line; both come before any frame.
    while read -r -t 20 -u "$fd" line && [[ $line != link:* ]]; do :; done
    [[ -L $home/switch ]] || { echo "the switch of $host did not start" >&2; exit 1; }
  done <<<"$table"

  status=0
  SSH="$here/ssh-shim.sh" bash "$fleet" --batch "${run_batch[$run]}" --output "$out" \
    "$hosts_file" "$firmware" >"$out.stdout" 2>"$out.stderr" || status=$?
  echo "--- run $run: exit $status"
  cat "$out.stderr" "$out.stdout"
  ((status == run_exit[$run])) || fail "run $run exited $status, not ${run_exit[$run]}"

  while read -r r host date fault expected; do
    [[ $r == "$run" ]] || continue
    home=$FLEET_HOSTS/$host record=$out/$host.json
    result=$(field "$record" result)
    [[ $result == "$expected" ]] || fail "$host: result $result, not $expected"
    grep -q -E "^$host +COM1 +$expected " "$out/summary.txt" || fail "$host: no '$expected' line in the summary"
    if [[ $expected == upgraded ]]; then
      # The switch writes the image, then reports the end-of-image frame.
      while read -r -t 20 -u "${sim_fd[$host]}" line && [[ $line != "end of image"* ]]; do :; done
      cmp "$firmware" "$home/image.bin" || fail "$host: the switch stored another image"
    fi
    kill "${sim_pid[$host]}"
    wait "${sim_pid[$host]}" || true
    unset "sim_pid[$host]"
    if [[ $expected != upgraded && -e $home/image.bin ]]; then
      fail "$host: its switch stored an image"
    fi
    case $expected in
      upgraded) exit_code=0 ;;
      current) exit_code=3 ;;
      may-not-start)
        exit_code=7
        [[ $fault != interrupt ]] || exit_code=143
        # The warning names the host and how far it got, from its record.
        sent=$(field "$record" upgrade bytes_sent) size=$(field "$record" upgrade file size)
        grep -q "$host (COM1): THE SWITCH MAY NOT START" "$out.stderr" || fail "$host: no warning"
        # An interrupted run's object has no file: the warning gives its cause.
        [[ $fault == interrupt ]] || grep -q "after $sent of $size bytes were acknowledged" "$out.stderr" ||
          fail "$host: the warning does not say $sent of $size bytes"
        [[ $fault != interrupt ]] || grep -q "end is unknown (interrupted during the transfer" "$out.stderr" ||
          fail "$host: the warning does not say the upgrade was interrupted"
        grep -qx "$host COM1" "$out/rerun.hosts" || fail "$host: not in rerun.hosts"
        ;;
      not-started)
        exit_code=None
        [[ ! -e $home/calls ]] || fail "$host was given commands: $(cat "$home/calls")"
        grep -qx "$host COM1" "$out/remaining.hosts" || fail "$host: not in remaining.hosts"
        ;;
    esac
    got=$(field "$record" exit_code)
    [[ $got == "$exit_code" ]] || fail "$host: exit_code $got, not $exit_code"
    if [[ -n $(ls -A "$home/tmp") ]]; then
      fail "$host: the copy was left behind: $(ls -A "$home/tmp")"
    fi
  done <<<"$table"
done

((failures == 0)) || { echo "$failures failure(s)" >&2; exit 1; }
echo "all hosts as expected"
