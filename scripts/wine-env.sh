# Helpers sourced by wine-run.sh and the test scripts. They are safe to call
# from several tests at once: each takes a lock.

# Puts the Wine that setup-wine32.sh prepares first on PATH (preparing it on
# first use): its commands start 64-bit and 32-bit programs alike, whether
# this machine runs 32-bit code natively or only under emulation. The build
# records its directory as QAL_WINE_DIR, so a test that moves HOME still
# finds it.
qal_use_wine() {
  local scripts=$1
  if [ -z "${QAL_WINE_DIR:-}" ] || [ ! -f "$QAL_WINE_DIR/.complete" ]; then
    QAL_WINE_DIR=$(bash "$scripts/setup-wine32.sh") || return 1
  fi
  export QAL_WINE_DIR
  case ":$PATH:" in
    *":$QAL_WINE_DIR/bin:"*) ;;
    *) export PATH="$QAL_WINE_DIR/bin:$PATH" ;;
  esac
  # A loader named here would be taken for every new process, 32-bit too.
  unset WINELOADER
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

# Creates the Wine prefix of the build tree on first use: boots it, maps the
# Chinese font family names the programs ask for to a font Debian ships, and
# has a crashing program end instead of waiting in Wine's debugger. Also puts
# the prepared Wine on PATH (qal_use_wine). A prefix made by another Wine is
# made again: its system files may be links to that Wine's, which only
# wineboot updating a prefix for a new Wine would write into.
qal_ensure_prefix() {
  local build=$1 scripts=$2
  qal_use_wine "$scripts" || return 1
  mkdir -p "$WINEPREFIX"
  exec 9>"$WINEPREFIX.lock"
  flock 9
  if [ -f "$WINEPREFIX/.qal-ready" ] && [ "$(cat "$WINEPREFIX/.qal-ready")" != "$QAL_WINE_DIR" ]; then
    wineserver -k 2>/dev/null && wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/.qal-ready" ]; then
    # Until its files are linked a booting prefix holds 1.3 GB: one boots at
    # a time on this machine, so tests starting together do not fill a disk.
    exec 7>>"$QAL_WINE_DIR.boot-lock" && flock 7
    wineboot -i >/dev/null 2>&1 || true
    wine regedit /S "$(winepath_of "$scripts/wine-prefix.reg")" >/dev/null 2>&1
    wineserver -w
    # Booted without its 32-bit half, a prefix starts no 32-bit program
    # ("could not load kernel32.dll").
    if [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
      exec 7>&-; flock -u 9; exec 9>&-
      echo "wine-env: $WINEPREFIX has no 32-bit system directory; Wine at $QAL_WINE_DIR did not set it up" >&2
      return 1
    fi
    # Its system files become links to Wine's own: a gigabyte a prefix less.
    python3 "$scripts/link-wine-files.py" "$WINEPREFIX" "$QAL_WINE_DIR" >/dev/null || true
    printf '%s' "$QAL_WINE_DIR" >"$WINEPREFIX/.qal-ready"
    exec 7>&-
  fi
  # A Wine server that shuts down once its last program has been gone for
  # three seconds races with the next program starting: tests start programs
  # at all moments. One kept for a minute after the last program is started
  # here, first; it answers 2 at once when a server already runs.
  wineserver -p60 </dev/null >/dev/null 2>&1 || true
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
    if [ -d "$prefix" ]; then
      # -k only asks; the caller may delete the prefix next.
      WINEPREFIX="$prefix" wineserver -k 2>/dev/null && WINEPREFIX="$prefix" wineserver -w 2>/dev/null || true
    fi
  done
  if [ -f "$tree/xvfb/pid" ]; then
    kill "$(cat "$tree/xvfb/pid")" 2>/dev/null || true
    rm -f "$tree/xvfb/pid"
  fi
}
