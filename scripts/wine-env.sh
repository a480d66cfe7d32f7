# Helpers sourced by wine-run.sh and the test scripts. Both are safe to call
# from several tests at once: each takes a lock in the build tree.

# Debian's wine command always takes Wine's 32-bit loader when it is
# installed, and a kernel that executes no 32-bit code (some virtual machines)
# refuses it: then nothing would start, not even a 64-bit program. There the
# commands run the 64-bit loader instead, through a directory of the build
# tree put first on PATH ("wine", and "wine-stable", which wineboot and the
# other tool commands start), and 32-bit programs stay out of reach.
qal_use_runnable_wine() {
  local build=$1 wine32=/usr/lib/wine/wine wine64=/usr/lib/wine/wine64
  if [ ! -x "$wine32" ] || "$wine32" --version >/dev/null 2>&1 || [ ! -x "$wine64" ]; then
    return 0
  fi
  local shims="$build/wine64-only" name
  mkdir -p "$shims"
  for name in wine wine-stable; do
    if [ ! -x "$shims/$name" ]; then
      printf '#!/bin/sh\nWINELOADER=%s exec %s "$@"\n' "$wine64" "$wine64" >"$shims/$name.$$"
      chmod +x "$shims/$name.$$"
      mv -f "$shims/$name.$$" "$shims/$name"
    fi
  done
  case ":$PATH:" in
    *":$shims:"*) ;;
    *) export PATH="$shims:$PATH" ;;
  esac
  export WINELOADER=$wine64
}

# Sets DISPLAY. When none is set, starts (once per build tree) an Xvfb server
# with a known screen size, so window geometry is the same on every machine.
qal_ensure_display() {
  local build=$1
  if [ -n "${DISPLAY:-}" ]; then
    return 0
  fi
  local state="$build/xvfb"
  mkdir -p "$state"
  exec 8>"$state/lock"
  flock 8
  local n pid
  if [ -f "$state/display" ] && [ -f "$state/pid" ]; then
    n=$(cat "$state/display"); pid=$(cat "$state/pid")
    if kill -0 "$pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      flock -u 8; exec 8>&-
      return 0
    fi
  fi
  for n in $(seq 90 250); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    setsid Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -ac \
      </dev/null >"$state/xvfb.log" 2>&1 &
    pid=$!
    local i
    for i in $(seq 1 100); do
      [ -S "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    if [ -S "/tmp/.X11-unix/X$n" ]; then
      echo "$n" >"$state/display"; echo "$pid" >"$state/pid"
      export DISPLAY=":$n"
      flock -u 8; exec 8>&-
      return 0
    fi
  done
  flock -u 8; exec 8>&-
  echo "wine-run: could not start Xvfb" >&2
  return 1
}

# Creates the Wine prefix of the build tree on first use: boots it and maps
# the Chinese font family names the programs ask for to a font Debian ships.
# Also settles which Wine loader the commands run (qal_use_runnable_wine).
qal_ensure_prefix() {
  local build=$1 scripts=$2
  qal_use_runnable_wine "$build"
  mkdir -p "$WINEPREFIX"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/.qal-ready" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wine regedit /S "$(winepath_of "$scripts/wine-fonts.reg")" >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.qal-ready"
  fi
  flock -u 9; exec 9>&-
}

# Wine maps the Unix root to drive Z:, so any absolute path works there.
winepath_of() {
  local p
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${p//\//\\}"
}

# Stops what the Windows tests of one build tree leave running: the Wine
# server of each of its prefixes and its virtual display.
qal_stop_tree() {
  local tree=$1 prefix
  for prefix in "$tree"/wineprefix*; do
    [ -d "$prefix" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  done
  if [ -f "$tree/xvfb/pid" ]; then
    kill "$(cat "$tree/xvfb/pid")" 2>/dev/null || true
    rm -f "$tree/xvfb/pid"
  fi
}
