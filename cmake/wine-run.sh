#!/usr/bin/env bash
# Runs a Windows program of the cross build under Wine, headless and quiet: CTest's emulator for the
# test programs (CMAKE_CROSSCOMPILING_EMULATOR), and a way to try the programs by hand:
#   cmake/wine-run.sh build/windows/ocelo-cli.exe --help
# The Wine prefix is $WINEPREFIX, else build/windows/wineprefix of the source tree (`make test-windows`
# makes it afresh); Wine's debug channels, its .NET and HTML engines (whose installers would ask) are off.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/windows/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# No window unless a test asks for one (xvfb-run gives it a display).
[ -n "${OCELO_WINE_DISPLAY:-}" ] || unset DISPLAY
exec wine "$@"
