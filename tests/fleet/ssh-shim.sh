#!/usr/bin/env bash
# Stands in for ssh in the fleet test, where no sshd runs: "[options] HOST
# COMMAND..." runs COMMAND here with bash, as ssh would run it on HOST. Each
# host is a folder of FLEET_HOSTS holding its switch's link (what COM1
# reaches there) and its TMPDIR; every command a host is given is appended
# to its "calls", so the test can tell a host that was never touched.
set -euo pipefail

# ssh's options that take a value, as ssh(1) lists them.
while (($#)); do
  case $1 in
    -[BbcDEeFIiJLlmOoPpQRSWw]) shift 2 ;;
    -?*) shift ;;
    *) break ;;
  esac
done
(($# >= 2)) || { echo "usage: ssh-shim.sh [options] HOST COMMAND..." >&2; exit 255; }
host=$1
shift
home=$FLEET_HOSTS/$host
[[ -d $home ]] || { echo "ssh: Could not resolve hostname $host" >&2; exit 255; }
printf '%s\n' "$*" >>"$home/calls"
cd "$home"
# ssh hands the remote shell its arguments joined by spaces.
TMPDIR=$home/tmp FLEET_SWITCH=$home/switch PATH=$FLEET_BIN:$PATH exec bash -c "$*"
