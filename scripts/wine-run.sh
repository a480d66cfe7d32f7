#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests of one build tree:
#   wine-run.sh BUILD_DIR PROGRAM.exe [ARGS...]
# The build tree owns a private Wine prefix (created once, then reused) and,
# when no display is set, a virtual 1920x1080x24 X screen of its own. A test
# that changes its prefix's registry names a prefix of its own in
# QAL_WINEPREFIX.
# The program's exit code is passed through.
set -euo pipefail

build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

export WINEPREFIX="${QAL_WINEPREFIX:-$build/wineprefix}"
# QAL_WINEDEBUG (say "-all,+debugstr", to see what a program tells a
# debugger) for one look; quiet otherwise.
export WINEDEBUG="${QAL_WINEDEBUG:--all}"
# Without these, Wine offers to download its Mono and Gecko add-ons in a
# dialog that nobody answers and the test hangs; and its menu builder would
# write a .desktop file into $HOME for every shortcut a program makes.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

# shellcheck source=scripts/wine-env.sh
source "$here/wine-env.sh"
qal_ensure_display "$build"
qal_ensure_prefix "$build" "$here"

# The first program of an idle prefix starts the Wine server and Wine's own
# services, which inherit its output and outlive it. Handed the caller's pipe
# they would keep it open, and the caller (ctest) would wait for them long
# after the program ended. So the program writes to a file, passed on after.
out=$(mktemp "$build/wine-run.XXXXXX")
trap 'rm -f "$out"' EXIT
status=0
wine "$@" </dev/null >"$out" 2>&1 || status=$?
cat "$out"
exit "$status"
