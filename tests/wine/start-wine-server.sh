#!/bin/sh
# Readies the Wine prefix for a test run: made when missing, cleared of COM
# links that a killed run left, and served by one Wine server that stays
# until the run ends it (wineserver -k, the fixture's cleanup), however long
# the run's tests leave it idle: a program under test that started a server
# of its own would find Wine's services not yet running and no COM port.
# The server's output goes nowhere: a server started by a program under test
# would dump its objects into that program's stderr at its end.
#   start-wine-server.sh WINE PREFIX [fresh] [KEEPER]
# fresh: a server an earlier run left on this prefix is ended first (the
# dialog's prefix: its desktop belonged to that run's X server, now gone).
# KEEPER: a Windows program left running until the server ends
# (tests/windows/WineKeeper.cpp), so that Wine's services stay up between
# the programs under test, as Windows' do.
set -u
wine=$1
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
fresh=
[ "${3:-}" = fresh ] && { fresh=1; shift; }
keeper=${3:-}
if [ -n "$fresh" ] && [ -d "$WINEPREFIX" ]; then
  wineserver -k >/dev/null 2>&1 </dev/null || true
  wineserver -w >/dev/null 2>&1 </dev/null || true
fi
if [ ! -d "$WINEPREFIX/dosdevices" ]; then
  "$wine" wineboot --init >/dev/null 2>&1 || { echo "wineboot failed in $WINEPREFIX" >&2; exit 1; }
fi
# Wine gives the host's own serial lines (/dev/ttyS0 ...) the first free COM
# numbers, where an AUTO scan of a test would write its probes into them.
# Hidden as COM1 to COM12, they get COM13 on; a server that ran without this
# is ended, so that the next one numbers the ports anew.
ports='HKLM\Software\Wine\Ports'
if ! "$wine" reg query "$ports" /v COM12 >/dev/null 2>&1 </dev/null; then
  for n in 1 2 3 4 5 6 7 8 9 10 11 12; do
    "$wine" reg add "$ports" /v "COM$n" /t REG_SZ /d '' /f >/dev/null 2>&1 </dev/null
  done
  wineserver -k >/dev/null 2>&1 </dev/null
  wineserver -w >/dev/null 2>&1 </dev/null
fi
find "$WINEPREFIX/dosdevices" -name 'com[0-9]*' -type l -delete
# Already running (an earlier run's, left by a killed run) is as good.
wineserver -p >/dev/null 2>&1 </dev/null || true
# Wine's own services (services.exe, winedevice.exe, plugplay.exe) start with
# the first program a new server runs, and keep its descriptors: started
# here, they hold /dev/null, not the pipe a test reads a program's output
# from, which would then not end until the server does.
"$wine" wineboot >/dev/null 2>&1 </dev/null || { echo "wineboot failed in $WINEPREFIX" >&2; exit 1; }
# For the dialog: windows framed by Wine itself (Xvfb has no window manager
# to do it), and the dialog's Courier New, which Wine does not ship, as the
# font made to its metrics.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 </dev/null &&
"$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /d 'Liberation Mono' /f \
  >/dev/null 2>&1 </dev/null || { echo "cannot set the dialog's registry values in $WINEPREFIX" >&2; exit 1; }
if [ -n "$keeper" ]; then
  "$wine" "$keeper" >/dev/null 2>&1 </dev/null &
fi
exit 0
