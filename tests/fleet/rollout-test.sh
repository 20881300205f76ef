#!/usr/bin/env bash
# Runs the collection's rollout playbook over real ssh, against an sshd of the
# test's own on 127.0.0.1: every inventory host reaches it, each from its own
# source address (so sshd's log tells which host connected) and with its own
# simulated switch as COM1. What each switch stored judges every upgrade.
# Skips (77), saying why, without ansible-playbook or sshd.
# Usage: rollout-test.sh COLLECTIONS KVM_UPGRADE_CLI KVM_SWITCH_SIM KVM_MAKE_FIRMWARE
set -euo pipefail
export LC_ALL=C.UTF-8

collections=$(realpath "$1") cli=$(realpath "$2") sim=$(realpath "$3") make_firmware=$(realpath "$4")
# Every upgrade is verified: the simulated switches restart after the image
# with the date of what they stored.
verify=true
for tool in ansible-playbook /usr/sbin/sshd ssh-keygen; do
  command -v "$tool" >/dev/null || { echo "SKIP: no $tool (scripts/install-deps.sh installs it)"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  local pid sock
  # ssh's connections kept open for the next task (ControlPersist)
  for sock in "$work"/cp/*; do
    [[ -S $sock ]] && ssh -o ControlPath="$sock" -O exit rack 2>/dev/null
  done
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# wait_line FD PATTERN: reads FD until a line matches, for at most 20 s.
wait_line() {
  local line
  while read -r -t 20 -u "$1" line; do [[ $line == $2 ]] && return 0; done
  return 1
}

# sshd on a free port with throw-away keys, for this user.
user=$(id -un)
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/client_key"
cp "$work/client_key.pub" "$work/authorized_keys"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/sshd_config" <<EOF
ListenAddress 127.0.0.1:$port
HostKey $work/host_key
AuthorizedKeysFile $work/authorized_keys
AllowUsers $user
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
PidFile none
MaxStartups 100
Subsystem sftp internal-sftp
# Level 2 keeps bash from reading ~/.bashrc for each command, which on some
# machines takes seconds.
SetEnv SHLVL=1
LogLevel INFO
EOF
# As root, sshd wants its privilege separation folder.
[[ $(id -u) != 0 ]] || mkdir -p /run/sshd
exec {sshd_fd}< <(exec /usr/sbin/sshd -D -e -f "$work/sshd_config" 2>&1)
pids+=($!)
wait_line "$sshd_fd" "Server listening on 127.0.0.1 port $port*" || { echo "sshd did not start" >&2; exit 1; }
# Its log says which source address, so which host, logged in.
cat <&"$sshd_fd" >"$work/sshd.log" &
pids+=($!)
echo "[127.0.0.1]:$port $(cut -d' ' -f1-2 "$work/host_key.pub")" >"$work/known_hosts"

# A host whose ssh port takes the connection and never says a word.
exec {mute_fd}< <(exec python3 -c '
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(8)
print(s.getsockname()[1], flush=True)
held = []
while True:
    held.append(s.accept())')
pids+=($!)
read -r -t 20 -u "$mute_fd" mute_port

firmware=$work/fw-1-1-26.bin
"$make_firmware" --size 4096 --date 1-1-26 "$firmware"

# Batches of three: in batch 2 rack5's switch hangs up mid-image and rack6's
# upgrade outlasts its time limit, during the switch's erase; the batch still
# ends, and rack7 of batch 3 is never started.
# host   switch date  fault                      result
hosts='
rack1    7-12-25      -                          upgraded
rack2    1-1-26       -                          current
rack3    7-12-25      --silent                   no-switch
rack4    -            mute-ssh                   unreachable
rack5    7-12-25      --hangup-after-block=2     may-not-start
rack6    7-12-25      --go-ahead-delay-ms=20000  may-not-start
rack7    7-12-25      -                          not-started
'
declare -A sim_fd=() sim_pid=() timeout=([rack6]=3)
start_switch() { # start_switch HOST DATE [FAULT]: its link is $work/HOST/switch
  local home=$work/$1
  exec {fd}< <(exec "$sim" --date "$2" --image-out "$home/image.bin" --link "$home/switch" "${@:3}" 2>&1)
  pids+=($!)
  sim_fd[$1]=$fd sim_pid[$1]=$!
  wait_line "$fd" "link:*" || { echo "the switch of $1 did not start" >&2; exit 1; }
}
inventory=$work/inventory.yml
cat >"$inventory" <<EOF
kvm_switches:
  vars:
    ansible_host: 127.0.0.1
    ansible_port: $port
    ansible_user: $user
    ansible_ssh_private_key_file: $work/client_key
    ansible_ssh_timeout: 5
    ansible_python_interpreter: /usr/bin/python3
    ansible_control_path_dir: $work/cp
    kvm_cli: $cli
    kvm_port: COM1
    kvm_verify: $verify
  hosts:
EOF
n=0
while read -r host date fault expected; do
  [[ -n $host ]] || continue
  n=$((n + 1))
  mkdir -p "$work/$host/tmp"
  if [[ $fault == mute-ssh ]]; then
    host_port=$mute_port
  else
    host_port=$port
    args=()
    [[ $fault == - ]] || args=("$fault")
    start_switch "$host" "$date" "${args[@]}"
  fi
  cat >>"$inventory" <<EOF
    $host:
      ansible_port: $host_port
      ansible_ssh_common_args: -o UserKnownHostsFile=$work/known_hosts -o BindAddress=127.0.1.$n -o ServerAliveInterval=5
      ansible_control_path: "%(directory)s/$host"
      kvm_map: [COM1=$work/$host/switch]
      kvm_remote_tmp: $work/$host/tmp
      kvm_timeout: ${timeout[$host]:-600}
EOF
done <<<"$hosts"

export ANSIBLE_HOME=$work/ansible-home ANSIBLE_REMOTE_TEMP=$work/remote-tmp ANSIBLE_COLLECTIONS_PATH=$collections
export ANSIBLE_COLLECTIONS_SCAN_SYS_PATH=false
export ANSIBLE_PIPELINING=true ANSIBLE_NOCOLOR=1 ANSIBLE_LOCALHOST_WARNING=false
cd "$work"
ansible-doc kvmupgrade.fleet.kvm_upgrade | grep -q "^- may_not_start" || fail "ansible-doc does not render the module"
play() { # play NAME EXPECTED_STATUS ARGS...: runs the playbook, bounded
  local name=$1 expected=$2 status=0 started=$SECONDS
  shift 2
  timeout 120 ansible-playbook -i "$inventory" kvmupgrade.fleet.rollout -e kvm_firmware=fw-1-1-26.bin \
    -e kvm_record_dir="$work/$name" "$@" >"$work/$name.out" 2>&1 || status=$?
  echo "--- $name: exit $status in $((SECONDS - started)) s"
  sed -n '/TASK \[Summary\]/,/^$/p' "$work/$name.out"
  ((status == expected)) || { fail "$name exited $status, not $expected"; cat "$work/$name.out"; }
}
# recap_changed HOST NAME: the host's changed count in the run's recap
recap_changed() { sed -n "s/^$1 *: .*changed=\([0-9]*\).*/\1/p" "$work/$2.out"; }

play rollout 2 -e kvm_batch=3
# rack4's ssh port never answers: ssh's ConnectTimeout gave up on it (and
# had it not, the run would have met its time limit).
grep -q "^rack4 .*timed out" "$work/rollout/summary.txt" || fail "rack4 was not cut off by ssh's time-out"
while read -r host date fault expected; do
  [[ -n $host ]] || continue
  grep -Eq "^$host +$expected( |$)" "$work/rollout/summary.txt" || fail "$host: no '$expected' line in the summary"
  if [[ $expected == upgraded ]]; then
    wait_line "${sim_fd[$host]}" "end of image*" && cmp -s "$firmware" "$work/$host/image.bin" ||
      fail "$host: its switch did not store the file"
  elif [[ -e $work/$host/image.bin ]]; then
    fail "$host: its switch stored an image"
  fi
  [[ -z $(ls -A "$work/$host/tmp") ]] || fail "$host: the copy was left behind"
done <<<"$hosts"
grep -q "from 127.0.1.7 " "$work/sshd.log" && fail "rack7 was contacted after rack5's switch broke off"
grep -qx "still to run: rack7" "$work/rollout/summary.txt" || fail "the summary does not say rack7 is still to run"
[[ $(cat "$work/rollout/remaining.hosts") == rack7 ]] || fail "remaining.hosts is not rack7"
[[ $(cat "$work/rollout/rerun.hosts") == $'rack5\nrack6' ]] || fail "rerun.hosts is not rack5 and rack6"
grep -q "^rack6 .* did not end within 3 s and was stopped; 0 of 4096 bytes acknowledged: interrupted during the transfer" \
  "$work/rollout/summary.txt" || fail "rack6's time limit is not in the summary"

# rack1's switch came back with the file's date: a second run changes nothing.
play again 0 -e kvm_batch=2 --limit rack1,rack2
for host in rack1 rack2; do
  [[ $(recap_changed "$host" again) == 0 ]] || fail "$host changed on the second run"
  grep -Eq "^$host +current " "$work/again/summary.txt" || fail "$host is not current on the second run"
done

# Check mode reaches rack7's switch and sends it nothing.
play check 0 --check --limit rack7
[[ $(recap_changed rack7 check) == 1 ]] || fail "check mode does not say rack7 would change"
grep -q '"rack7  would-upgrade ' "$work/check.out" || fail "check mode does not say rack7 would be upgraded"
grep -q "from 127.0.1.7 " "$work/sshd.log" || fail "check mode did not reach rack7"
[[ ! -e $work/rack7/image.bin ]] || fail "check mode sent rack7 an image"

((failures == 0)) || { echo "$failures failure(s)" >&2; exit 1; }
echo "every host as expected"
