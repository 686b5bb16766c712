#!/bin/sh
# Stands in for the player in the tests of the end-to-end driver: checks the arguments the
# driver passes and writes the applet's magic and an input file to the "::file" device.
[ "$#" -eq 4 ] && [ "$2" = -QUIET ] && [ "$3" = -DEBUGDEVICE ] || exit 3
case "$4" in ::file*) ;; *) exit 3 ;; esac
{ head -c 3 "$1"; echo; cat input.txt; } > "${4#::file}"
