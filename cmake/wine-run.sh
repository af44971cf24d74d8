#!/bin/sh
# Runs a Windows program of a cross build under wine, in the build's own
# prefix. Usage: wine-run.sh LOADER PROGRAM ARGS... The prefix is found
# from the program's path (<build>/bin/x.exe).
loader=$1; prog=$2; shift 2
build=$(cd "$(dirname "$prog")/.." && pwd)
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec "$loader" "$prog" "$@"
