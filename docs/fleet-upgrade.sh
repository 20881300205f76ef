#!/usr/bin/env bash
# fleet-upgrade.sh: upgrade the KVM switches of many hosts over ssh, batch
# by batch, each host with its switch on a serial port. See docs/fleet.md.
#
# Usage: fleet-upgrade.sh [OPTIONS] HOSTS FIRMWARE
#
# HOSTS holds one "HOST PORT" line per host (PORT is COM1 to COM12 or AUTO,
# as the host's kvm-upgrade-cli names its ports; "#" starts a comment):
#
#   kvm-rack1 COM1
#   kvm-rack2 COM3   # the adapter behind the rack's door
#
# For each host, in the order of the file, the play is:
#   1. copy FIRMWARE over ssh into a fresh folder under the host's $TMPDIR
#      (or /tmp), keeping its name: a file without an info record has its
#      model and date read from its name;
#   2. check the copy's size and SHA-256 on the host;
#   3. run there: kvm-upgrade-cli --json --yes --if-newer --port PORT upgrade FILE
#      (it reads the switch's version and sends the file only when it is newer);
#   4. remove the copy.
# Hosts of one batch are played at the same time; the next batch starts when
# every host of the running one has ended.
#
# An upgrade that broke off after image data was sent (kvm-upgrade-cli's exit
# status 7) may leave a switch that does not start. Then the running batch
# is finished, no further batch is started, and the script says which host,
# how far its upgrade got and what to do. The same holds when the upgrade's
# end is unknown (the ssh connection broke during it, or it was interrupted:
# the switch may have begun to erase before any data was acknowledged).
#
# Options:
#   -b, --batch N        hosts played at the same time (default 1)
#   -c, --command CMD    kvm-upgrade-cli on the hosts (default kvm-upgrade-cli);
#                        put into the remote command line as written, so
#                        "sudo -n kvm-upgrade-cli" or a full path work
#   -o, --output DIR     the records' folder (default fleet-YYYYMMDD-HHMMSS,
#                        created in the current folder)
#       --always         send the file even when the switch reports the same or
#                        a newer date (leaves out --if-newer): for rerunning a
#                        host whose upgrade broke off
#   -h, --help           print this text and exit
#
# Environment: SSH, the ssh command (default "ssh"), split into words, so
# SSH="ssh -F ./fleet-ssh-config" adds options. It is run as
# "$SSH -o BatchMode=yes HOST COMMAND": a host that would ask for a password
# fails at once instead of waiting on a prompt nobody sees (ssh keeps the
# first value of an option, so SSH="ssh -o BatchMode=no" overrides it).
#
# What it leaves in DIR:
#   HOST.json        one object per host: host, port, result, stage (the
#                    step it ended in: copy, check, upgrade, or none),
#                    exit_code (kvm-upgrade-cli's exit status; before it
#                    ran, the failed step's: 255 when ssh reached no host,
#                    1 for a copy that does not match; null when not
#                    started), detail, and upgrade: the object
#                    kvm-upgrade-cli --json printed, or null
#   HOST.log         everything the host's steps wrote on stderr
#   summary.txt      one line per host, also printed on stdout at the end
#   rerun.hosts      hosts whose switch may not start (only when there are)
#   remaining.hosts  hosts not started because the rollout stopped (ditto)
#
# Results: upgraded (exit 0); current (3: the switch is as new or newer);
# date-unknown (3: the file's or the switch's date cannot be compared, so
# nothing was sent; --always sends it anyway); port-unavailable (4);
# port-busy (5); no-switch (6); failed (1, 2, or another end that sent no
# image data); may-not-start (7, or an unknown end); host-unreachable (ssh
# failed before the copy); copy-failed (the copy or its check failed);
# not-started.
#
# Exit status:
#   0  every host was upgraded or is current
#   1  the rollout went through every host, but at least one was not
#      upgraded or current (unreachable, a port, no switch, a date that
#      cannot be compared, failed): see the summary
#   2  usage: a bad option, an unreadable hosts file or firmware file, a
#      malformed host line; no host was contacted
#   3  stopped: a switch may not start; the hosts of later batches were not
#      touched (remaining.hosts)
set -euo pipefail

me=${0##*/}
usage() {
  sed -n '/^# Usage:/,/^set -euo/{/^#/!d;s/^# \{0,1\}//;p}' "$0"
}
die_usage() {
  echo "$me: $*" >&2
  echo "Try '$me --help'." >&2
  exit 2
}

batch=1 command=kvm-upgrade-cli output="" if_newer=--if-newer
while (($#)); do
  case $1 in
    -b | --batch) (($# >= 2)) || die_usage "$1 needs a value"; batch=$2; shift 2 ;;
    --batch=*) batch=${1#*=}; shift ;;
    -c | --command) (($# >= 2)) || die_usage "$1 needs a value"; command=$2; shift 2 ;;
    --command=*) command=${1#*=}; shift ;;
    -o | --output) (($# >= 2)) || die_usage "$1 needs a value"; output=$2; shift 2 ;;
    --output=*) output=${1#*=}; shift ;;
    --always) if_newer=""; shift ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    -*) die_usage "unknown option $1" ;;
    *) break ;;
  esac
done
(($# == 2)) || die_usage "give a hosts file and a firmware file"
hosts_file=$1 firmware=$2
[[ $batch =~ ^[1-9][0-9]*$ ]] || die_usage "the batch size must be a whole number from 1 on, not '$batch'"
[[ -n $command ]] || die_usage "the remote command is empty"
[[ -f $hosts_file && -r $hosts_file ]] || die_usage "cannot read the hosts file $hosts_file"
[[ -f $firmware && -r $firmware ]] || die_usage "cannot read the firmware file $firmware"
for tool in python3 sha256sum; do
  command -v "$tool" >/dev/null || die_usage "$tool is needed here and was not found"
done

# Hosts and ports end up in remote command lines and file names: only plain
# names pass, and never one that ssh would take for an option.
hosts=() ports=()
declare -A seen=()
line_no=0
while IFS= read -r line || [[ -n $line ]]; do
  line_no=$((line_no + 1))
  line=${line%%#*}
  read -r -a fields <<<"$line"
  ((${#fields[@]} == 0)) && continue
  ((${#fields[@]} == 2)) || die_usage "$hosts_file:$line_no: expected 'HOST PORT'"
  host=${fields[0]} port=${fields[1]}
  [[ $host =~ ^[A-Za-z0-9_][A-Za-z0-9._@:-]*$ ]] ||
    die_usage "$hosts_file:$line_no: '$host' is not a host name"
  [[ $port =~ ^(COM([1-9]|1[0-2])|AUTO)$ ]] ||
    die_usage "$hosts_file:$line_no: the port must be COM1 to COM12 or AUTO, not '$port'"
  # Each host's records are named after it, and one switch per host is
  # upgraded at a time.
  [[ -z ${seen[$host]:-} ]] ||
    die_usage "$hosts_file:$line_no: $host is listed twice (first on line ${seen[$host]})"
  seen[$host]=$line_no
  hosts+=("$host") ports+=("$port")
done <"$hosts_file"
((${#hosts[@]} > 0)) || die_usage "$hosts_file names no host"

read -r -a ssh <<<"${SSH:-ssh}"
((${#ssh[@]} > 0)) || die_usage "SSH is empty"
ssh+=(-o BatchMode=yes)

output=${output:-fleet-$(date +%Y%m%d-%H%M%S)}
mkdir -p -- "$output"
# Lists left by an earlier run into the same folder would mislead.
rm -f -- "$output/rerun.hosts" "$output/remaining.hosts"
work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT

fw_size=$(wc -c <"$firmware")
fw_size=${fw_size//[[:space:]]/}
fw_sha=$(sha256sum <"$firmware")
fw_sha=${fw_sha%% *}
fw_name=${firmware##*/}

# Quoted for the remote shell, whatever it is: POSIX single quotes.
quote() {
  local s=${1//\'/\'\\\'\'}
  printf "'%s'" "$s"
}

# record HOST PORT STAGE STATUS CLI_STDOUT NOTE: writes DIR/HOST.json, and
# prints "RESULT<TAB>DETAIL<TAB>BYTES_SENT<TAB>SIZE".
read -r -d '' record_py <<'EOF' || true
import json, sys
host, port, stage, status, raw, note, out = sys.argv[1:8]
status = int(status) if status else None
cli = None
try:
    lines = open(raw, encoding="utf-8", errors="replace").read().split("\n")
    last = [l for l in lines if l.strip()][-1]
    cli = json.loads(last)
    if not isinstance(cli, dict):
        cli = None
except (OSError, IndexError, ValueError):
    cli = None
def get(*keys):
    value = cli
    for key in keys:
        value = value.get(key) if isinstance(value, dict) else None
    return value
sent, size = get("bytes_sent"), get("file", "size")
by_status = {0: "upgraded", 3: "current", 4: "port-unavailable", 5: "port-busy",
             6: "no-switch", 1: "failed", 2: "failed", 7: "may-not-start"}
if stage == "none":
    result = "not-started"
elif stage == "copy" and status == 255:
    result = "host-unreachable"
elif stage in ("copy", "check"):
    result = "copy-failed"
elif status == 3 and get("comparison") not in ("same", "switch-newer"):
    result = "date-unknown"
elif status in by_status:
    result = by_status[status]
elif cli is not None and sent == 0 and get("outcome") != "interrupted":
    result = "failed"
elif cli is None and status in (126, 127):
    # The remote shell found no such command, or could not run it.
    result = "failed"
else:
    # The connection broke, or the program was stopped: even with nothing
    # acknowledged, the switch may have taken the headers and begun to erase.
    result = "may-not-start"
if result == "upgraded":
    detail = "switch %s -> file %s, %s bytes in %s s" % (
        get("switch", "date"), get("file", "version"), sent, get("seconds"))
elif result == "current":
    detail = "switch %s, file %s (%s)" % (get("switch", "date"), get("file", "version"),
                                          get("comparison"))
elif result == "date-unknown":
    detail = "switch %s, file %s: the dates cannot be compared, nothing was sent" % (
        get("switch", "date"), get("file", "version") or "of unknown date")
elif (result == "may-not-start" and get("outcome") != "interrupted"
      and isinstance(sent, int) and isinstance(size, int)):
    # An interrupt's object has the size too, but what it acknowledged is no
    # end: the block in flight may have been stored.
    detail = "%d of %d bytes acknowledged" % (sent, size)
elif result == "may-not-start":
    detail = "the upgrade's end is unknown (%s)" % (get("cause") or note or "no report from the host")
else:
    detail = get("cause") or note
record = {"host": host, "port": port, "result": result, "exit_code": status,
          "stage": stage, "detail": detail, "upgrade": cli}
with open(out, "w", encoding="utf-8") as f:
    json.dump(record, f)
    f.write("\n")
print("\t".join(str(v) for v in (result, detail, sent, size)))
EOF

# summary DIR HOST...: the table of summary.txt.
read -r -d '' summary_py <<'EOF' || true
import json, sys, collections
folder, hosts = sys.argv[1], sys.argv[2:]
rows = [json.load(open("%s/%s.json" % (folder, h), encoding="utf-8")) for h in hosts]
head = ("host", "port", "result", "exit", "detail")
table = [head] + [(r["host"], r["port"], r["result"],
                   "-" if r["exit_code"] is None else str(r["exit_code"]), r["detail"] or "")
                  for r in rows]
widths = [max(len(t[i]) for t in table) for i in range(4)]
for t in table:
    print("  ".join(t[i].ljust(widths[i]) for i in range(4)) + "  " + t[4])
counts = collections.Counter(r["result"] for r in rows)
print("%d hosts: %s" % (len(rows), ", ".join("%d %s" % (n, k) for k, n in counts.items())))
EOF

say() { echo "$me: $*" >&2; }

# Plays one host; its records and its result go to DIR and $work.
upgrade_host() {
  local host=$1 port=$2
  local log=$output/$host.log raw=$work/$host.out
  local stage=copy status=0 note="" dir="" file
  : >"$log" && : >"$raw"
  local make_copy
  make_copy="d=\$(mktemp -d \"\${TMPDIR:-/tmp}/kvm-fleet.XXXXXX\") && printf '%s\\n' \"\$d\" && cat > \"\$d\"/$(quote "$fw_name")"
  dir=$("${ssh[@]}" "$host" "$make_copy" <"$firmware" 2>>"$log") || status=$?
  dir=${dir%%$'\n'*}
  if ((status == 0)) && [[ $dir != /* ]]; then
    status=1 note="the host did not name its temporary folder"
  fi
  file=$dir/$fw_name
  if ((status == 0)); then
    stage=check
    local got
    got=$("${ssh[@]}" "$host" "wc -c < $(quote "$file") && sha256sum < $(quote "$file")" \
      </dev/null 2>>"$log") || status=$?
    if ((status == 0)); then
      local got_size got_sha
      got_size=${got%%$'\n'*} got_sha=${got#*$'\n'}
      got_size=${got_size//[[:space:]]/} got_sha=${got_sha%% *}
      if [[ $got_size != "$fw_size" || $got_sha != "$fw_sha" ]]; then
        status=1 note="the copy on the host has $got_size bytes, SHA-256 $got_sha; sent $fw_size bytes, SHA-256 $fw_sha"
      fi
    else
      note="checking the copy failed (status $status, see $log)"
    fi
  elif ((status == 255)); then
    note="ssh reached no host (status 255, see $log)"
  elif [[ -z $note ]]; then
    note="copying the firmware file failed (status $status, see $log)"
  fi
  if ((status == 0)); then
    stage=upgrade
    "${ssh[@]}" "$host" "$command --json --yes $if_newer --port $port upgrade $(quote "$file")" \
      </dev/null >"$raw" 2>>"$log" || status=$?
    case $status in
      126) note="the host cannot run $command (status 126)" ;;
      127) note="the host has no command $command (status 127)" ;;
      *) note="the remote command ended with status $status" ;;
    esac
  fi
  if [[ $dir == /* ]]; then
    "${ssh[@]}" "$host" "rm -f -- $(quote "$file") && rmdir -- $(quote "$dir")" </dev/null 2>>"$log" ||
      say "$host: could not remove $dir there (see $log)"
  fi
  python3 -c "$record_py" "$host" "$port" "$stage" "$status" "$raw" "$note" \
    "$output/$host.json" >"$work/$host.result"
  local result detail
  IFS=$'\t' read -r result detail _ <"$work/$host.result"
  say "$host ($port): $result: $detail"
}

count=${#hosts[@]}
batches=$(((count + batch - 1) / batch))
stopped=0 all_done=1
for ((b = 0; b < batches; b++)); do
  first=$((b * batch))
  if ((stopped)); then
    for ((i = first; i < first + batch && i < count; i++)); do
      python3 -c "$record_py" "${hosts[i]}" "${ports[i]}" none "" /dev/null \
        "an earlier batch left a switch that may not start" "$output/${hosts[i]}.json" >/dev/null
      echo "${hosts[i]} ${ports[i]}" >>"$output/remaining.hosts"
    done
    continue
  fi
  say "batch $((b + 1)) of $batches: ${hosts[*]:first:batch}"
  pids=()
  for ((i = first; i < first + batch && i < count; i++)); do
    upgrade_host "${hosts[i]}" "${ports[i]}" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do
    wait "$pid" || true
  done
  for ((i = first; i < first + batch && i < count; i++)); do
    host=${hosts[i]} port=${ports[i]}
    if [[ ! -s $work/$host.result ]]; then
      # Its play broke off unexpectedly: nobody can say how far it got.
      python3 -c "$record_py" "$host" "$port" unknown "" "$work/$host.out" \
        "its play stopped early, see $output/$host.log" "$output/$host.json" >"$work/$host.result"
    fi
    IFS=$'\t' read -r result detail sent size <"$work/$host.result"
    case $result in
      upgraded | current) continue ;;
      may-not-start) ;;
      *) all_done=0; continue ;;
    esac
    stopped=1
    echo "$host $port" >>"$output/rerun.hosts"
    {
      echo
      echo "!!! ================================================================"
      echo "!!! $host ($port): THE SWITCH MAY NOT START."
      if [[ $sent != None && $size != None && $detail != "the upgrade's end is unknown"* ]]; then
        echo "!!! Its upgrade broke off after $sent of $size bytes were acknowledged."
      else
        echo "!!! ${detail^}."
      fi
      echo "!!! Keep the switch's power on and its cable in; do not switch it off."
      echo "!!! Run the upgrade on that host again:"
      echo "!!!   $me --always $output/rerun.hosts $firmware"
      echo "!!! ================================================================"
      echo
    } >&2
  done
  if ((stopped && b + 1 < batches)); then
    say "no further batch is started; the hosts left are in $output/remaining.hosts"
  fi
done

python3 -c "$summary_py" "$output" "${hosts[@]}" | tee "$output/summary.txt"
((stopped)) && exit 3
((all_done)) || exit 1
exit 0
