#!/bin/busybox sh
# shellcheck disable=SC3045 # busybox's read has -t
# /init of the guest that guest-test.sh boots: loads the USB drivers, runs
# kvm-upgrade-cli through the 8250 UART (ttyS1) and QEMU's FT232 (ttyUSB0),
# both wired to simulated switches on the host, and writes everything the
# host judges on the console (ttyS0) as lines that start with "@@ ".
/bin/busybox mkdir -p /proc /sys /dev /run /tmp
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

say() { echo "@@ $*"; }
fail() { say "fatal $*"; poweroff -f; }
centis() { read -r up _ </proc/uptime; echo "${up%.*}${up#*.}"; }
# report NAME STATUS START: a run's output, status and time for the host.
report() {
    sed "s/^/@@ $1.out /" "/tmp/$1.out"
    sed "s/^/@@ $1.err /" "/tmp/$1.err"
    say "$1 exit $2 ms $((($(centis) - $3) * 10))"
}
run() { # run NAME ARGS...: kvm-upgrade-cli ARGS, reported as NAME
    name=$1; shift
    start=$(centis)
    kvm-upgrade-cli "$@" >"/tmp/$name.out" 2>"/tmp/$name.err"
    report "$name" $? "$start"
}

# The adapter appears when the USB host's enumeration reaches ftdi_sio, on
# no schedule of ours: the kernel's own event for its tty says when. The
# listener is known to hear before the drivers load once it has heard an
# event asked for.
mkfifo /run/events
exec 3<>/run/events
# shellcheck disable=SC2016 # expanded by the handler, from the event
uevent sh -c 'echo "$ACTION $DEVNAME" >/run/events' &
listener=$!
heard=
for _ in 1 2 3 4 5 6 7 8 9 10; do
    echo change >/sys/devices/virtual/tty/tty/uevent
    if read -r -t 1 _ <&3; then heard=1; break; fi
done
[ -n "$heard" ] || fail "no kernel events reach the listener"
while read -r module; do
    insmod "/modules/$module" || fail "insmod $module"
done </modules/load-order
# The node comes after ftdi_sio's probe, which made the latency timer's file.
until [ -e /dev/ttyUSB0 ]; do
    read -r -t 30 _ <&3 || fail "no ttyUSB0 within 30 s"
done
kill $listener
exec 3<&-
say "booted in $(($(centis) * 10)) ms"

run list --list-ports

run uart --map COM1=/dev/ttyS1 upgrade --port COM1 --yes /fw/uart.bin

# The adapter's latency timer before, during and after an upgrade; "during"
# is read at the first progress line, with nine tenths of the image to go.
latency=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer
# QEMU's FT232 answers 0 where a real one starts at 16, the driver's own
# default: that is put back, so that "after" can tell 16 from 1 and from 0.
echo 16 >$latency
say "latency before $(cat $latency)"
mkfifo /tmp/progress
start=$(centis)
kvm-upgrade-cli --map COM1=/dev/ttyUSB0 upgrade --port COM1 --yes /fw/ftdi.bin \
    >/tmp/ftdi.out 2>/tmp/progress &
pid=$!
during=
while read -r line; do
    echo "$line" >>/tmp/ftdi.err
    case $line in "Progress: "*) [ -n "$during" ] || during=$(cat $latency) ;; esac
done </tmp/progress
wait $pid
report ftdi $? "$start"
say "latency during ${during:-none} after $(cat $latency)"

# A second opener, as root as all here: a shell that holds the UART open and
# ends once the descriptor on its stdin is closed.
mkfifo /tmp/held /tmp/release
exec 5<>/tmp/held
sh -c 'exec 3<>/dev/ttyS1 && echo $$ >/tmp/held && read -r _' </tmp/release &
holding=$!
exec 4>/tmp/release
read -r -t 30 holder <&5 || fail "the holder could not open ttyS1"
say "holder sh $holder"
run busy --map COM1=/dev/ttyS1 --json check --port COM1
exec 4>&-
wait $holding

# The host pulls the adapter out once its switch has stored enough blocks.
say "unplug begins"
run unplug --map COM1=/dev/ttyUSB0 --json upgrade --port COM1 --yes /fw/unplug.bin

say "done"
poweroff -f
