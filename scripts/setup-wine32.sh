#!/usr/bin/env bash
# Prepares what runs 32-bit Windows programs under Wine on this machine and
# prints the directory that holds it (its bin/ goes first on PATH).
#
#   setup-wine32.sh           prepare when needed, then print the directory
#   setup-wine32.sh --where   print the directory only (nothing is fetched)
#   setup-wine32.sh --route   print how 32-bit code runs here: native or emulated
#
# Wine starts a 32-bit Windows program through its 32-bit loader, an i386
# Linux program, with i386 libraries. Nothing i386 is installed system-wide
# (Debian's i386 libraries may be older than the amd64 ones installed, and
# then wine32:i386 cannot be installed at all): Debian's own wine32 and libwine
# of exactly the installed Wine version, with their i386 dependencies, are
# fetched through a private apt configuration and unpacked into a per-user
# cache. Where the kernel executes 32-bit code that loader runs natively;
# where it does not (some virtual machines), it runs under qemu-i386 from
# Debian 13's qemu-user, a static program that runs on Debian 12.
#
# Whether the machine runs 32-bit code is decided here and nowhere else;
# QAL_WINE32_ROUTE=native|emulated overrides it (to try the emulated route on
# a machine that would not need it). The cache is QAL_WINE32_CACHE, or
# orvane-wine32/ under XDG_CACHE_HOME or ~/.cache. Needs the network (Debian's
# archive) on first use only: about 140 MB fetched, 730 MB unpacked.
set -euo pipefail

me=setup-wine32
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fail() { echo "$me: $*" >&2; exit 1; }

wine_version=$(dpkg-query -W -f='${Version}' wine64 2>/dev/null) ||
  fail "wine64 is not installed (scripts/setup-debian.sh installs it)"
cache_root=${QAL_WINE32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvane-wine32}
cache=$cache_root/${wine_version//[^A-Za-z0-9.+-]/_}

# A minimal i386 Linux program (exit code 42, nothing else): whether the
# kernel runs it is whether Wine's 32-bit loader can run natively.
host_runs_32bit() {
  local probe status=0
  # In the cache, not in a /tmp that may be mounted noexec.
  mkdir -p "$cache_root" || fail "cannot create $cache_root"
  probe=$(mktemp "$cache_root/.i386-probe.XXXXXX")
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\273\052\000\000\000\270\001\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

route() {
  case "${QAL_WINE32_ROUTE:-}" in
    native|emulated) echo "$QAL_WINE32_ROUTE" ;;
    "") if host_runs_32bit; then echo native; else echo emulated; fi ;;
    *) fail "QAL_WINE32_ROUTE must be native or emulated, not \"$QAL_WINE32_ROUTE\"" ;;
  esac
}

case "${1:-}" in
  -h|--help) sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
  ""|--where|--route) ;;
  *) echo "usage: $me [--where | --route]" >&2; exit 2 ;;
esac
route=$(route)
dir=$cache/$route
case "${1:-}" in
  --where) echo "$dir"; exit 0 ;;
  --route) echo "$route"; exit 0 ;;
esac
if [ -f "$dir/.complete" ]; then
  echo "$dir"
  exit 0
fi

for tool in apt-get dpkg-deb patchelf flock; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup-debian.sh installs it)"
done
mkdir -p "$cache" || fail "cannot create $cache"
# Tests prepare this in parallel: one does the work, the others wait for it.
exec 7>"$cache/.lock"
flock 7
if [ -f "$dir/.complete" ]; then
  echo "$dir"
  exit 0
fi

work=$(mktemp -d "$cache/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# apt-get with a configuration of its own: its own sources, lists, cache and
# an empty package database, so every dependency is fetched and nothing on
# the machine changes.
private_apt() {  # private_apt ROOT ARCH APT-GET-ARGS...
  local root=$1 arch=$2; shift 2
  apt-get -q -o Dir::Etc::SourceList="$root/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts=/dev/null \
    -o Dir::State="$root/state" -o Dir::State::status="$root/state/status" -o Dir::Cache="$root/cache" \
    -o APT::Architecture="$arch" -o APT::Architectures::="$arch" -o Debug::NoLocking=1 \
    -o APT::Sandbox::User="$(id -un)" -o Acquire::Retries=2 "$@"
}

# The Debian suites this machine's apt uses, for another architecture or
# another release of the same archive.
debian_sources() {  # debian_sources ARCH [SUITE]
  local arch=$1 suite=${2:-} codename keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
  local lines
  lines=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' 2>/dev/null |
          awk -v c="$codename" '$2 == c || index($2, c "-") == 1' | sort -u)
  [ -n "$lines" ] || lines="http://deb.debian.org/debian/ $codename main
http://deb.debian.org/debian/ $codename-updates main
http://deb.debian.org/debian-security/ $codename-security main"
  local uri release component
  while read -r uri release component; do
    if [ -n "$suite" ]; then
      [ "$release" = "$codename" ] || continue
      release=$suite
    fi
    echo "deb [arch=$arch signed-by=$keyring] $uri $release $component"
  done <<<"$lines"
}

# Fetches PACKAGES into ROOT/cache/archives: with their dependencies
# (install), or alone (download). An index
# that fails to download (a mirror half-synced for hours) does not end it:
# the update is tried again once, and the install says whether what is
# needed was there.
fetch_packages() {  # fetch_packages ROOT ARCH SOURCES install|download PACKAGES...
  local root=$1 arch=$2 sources=$3 verb=$4; shift 4
  mkdir -p "$root/state/lists/partial" "$root/cache/archives/partial"
  : >"$root/state/status"
  printf '%s\n' "$sources" >"$root/sources.list"
  private_apt "$root" "$arch" update >"$root/update.log" 2>&1 ||
    private_apt "$root" "$arch" update >"$root/update.log" 2>&1 || true
  local fetched=0
  if [ "$verb" = install ]; then
    private_apt "$root" "$arch" install -y --download-only --no-install-recommends "$@" \
      >"$root/install.log" 2>&1 || fetched=$?
  else
    (cd "$root/cache/archives" && private_apt "$root" "$arch" download "$@") >"$root/install.log" 2>&1 || fetched=$?
  fi
  if [ "$fetched" -ne 0 ]; then
    local why update_error
    why=$(grep -m 1 -E '^E:' "$root/install.log" | sed 's/^E: //')
    update_error=$(grep -m 1 -E '^E:' "$root/update.log" | sed 's/^E: //')
    fail "cannot fetch $* ($arch): ${why:-apt-get failed}${update_error:+ (the index update also said: $update_error)}"
  fi
}

sysroot=$cache/i386
if [ ! -f "$sysroot/.complete" ]; then
  echo "$me: fetching Debian's i386 Wine $wine_version (once per machine and Wine version)" >&2
  fetch_packages "$work/i386" i386 "$(debian_sources i386)" install "wine32=$wine_version" "libwine=$wine_version"
  mkdir -p "$work/sysroot"
  for deb in "$work/i386/cache/archives/"*.deb; do
    dpkg-deb -x "$deb" "$work/sysroot" || fail "cannot unpack $(basename "$deb")"
  done
  # libwine's install script (which unpacking does not run) copies MinGW's
  # zlib into Wine's DLL directory, marked as a Wine builtin.
  zlib_in=$work/sysroot/usr/i686-w64-mingw32/lib/zlib1.dll
  zlib_out=$work/sysroot/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll
  if [ -f "$zlib_in" ]; then
    { head -c 64 "$zlib_in"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$zlib_in"; } >"$zlib_out"
  fi
  rm -rf "$sysroot"
  mv "$work/sysroot" "$sysroot"
  touch "$sysroot/.complete"
fi

qemu=$cache/qemu-i386
if [ "$route" = emulated ] && [ ! -x "$qemu" ]; then
  # Debian 12's qemu 7.2 reserves Wine's address space one mmap at a time:
  # about a minute for every 32-bit process. Debian 13's is a static program.
  echo "$me: fetching qemu-i386 from Debian 13's qemu-user" >&2
  fetch_packages "$work/qemu" amd64 "$(debian_sources amd64 trixie)" download qemu-user
  deb=$(ls "$work/qemu/cache/archives/"qemu-user_*.deb 2>/dev/null | head -n 1)
  [ -n "$deb" ] || fail "cannot fetch qemu-user (amd64, trixie): no package downloaded"
  dpkg-deb -x "$deb" "$work/qemu/root" || fail "cannot unpack $(basename "$deb")"
  [ -x "$work/qemu/root/usr/bin/qemu-i386" ] || fail "$(basename "$deb") holds no usr/bin/qemu-i386"
  cp "$work/qemu/root/usr/bin/qemu-i386" "$qemu.part"
  mv "$qemu.part" "$qemu"
fi

# The Wine directory: both loaders side by side (each finds the other in its
# own directory), Wine's libraries and data beside them as the loaders expect.
tree=$work/tree
lib=$tree/usr/lib
mkdir -p "$lib/wine" "$tree/usr/share" "$tree/bin"
cp /usr/lib/wine/wine64 "$lib/wine/wine64"
ln -s /usr/lib/wine/wineserver64 "$lib/wine/wineserver"
ln -s /usr/lib/x86_64-linux-gnu "$lib/x86_64-linux-gnu"
ln -s "$sysroot/usr/lib/i386-linux-gnu" "$lib/i386-linux-gnu"
ln -s /usr/share/wine "$tree/usr/share/wine"
i386_libs=$sysroot/lib/i386-linux-gnu:$sysroot/usr/lib/i386-linux-gnu
loader32=$lib/wine/wine
if [ "$route" = emulated ]; then
  loader32=$lib/wine/wine-i386
  gcc -m32 -O2 -fPIC -fno-stack-protector -nostdlib -shared -o "$dir.trapno.so.part" \
    "$here/wine32-trapno.c" "$sysroot/lib/i386-linux-gnu/libc.so.6" ||
    fail "cannot build the trap-number library (gcc -m32)"
  mv "$dir.trapno.so.part" "$cache/wine32-trapno.so"
fi
cp "$sysroot/usr/lib/wine/wine" "$loader32"
# The loader finds its interpreter and libraries in the cache; a library's
# search path (RPATH) of the program is searched for every library it or
# Wine loads later, so no LD_LIBRARY_PATH leaks into other programs.
patchelf --set-interpreter "$sysroot/lib/i386-linux-gnu/ld-linux.so.2" --force-rpath --set-rpath "$i386_libs" \
  "$loader32" || fail "patchelf failed on Wine's 32-bit loader"
if [ "$route" = emulated ]; then
  patchelf --add-needed "$cache/wine32-trapno.so" "$loader32" || fail "patchelf failed on Wine's 32-bit loader"
  # qemu reports the emulated program as /proc/self/exe, so Wine sees its
  # own directory; its argv[0] is this script, which Wine runs to start
  # another 32-bit process.
  printf '#!/bin/bash\nexec %q -0 %q -E WINELOADERNOEXEC=1 %q "$@"\n' "$qemu" "$dir/usr/lib/wine/wine" \
    "$dir/usr/lib/wine/wine-i386" >"$lib/wine/wine"
  chmod +x "$lib/wine/wine"
fi
# (The scripts are bash's: printf %q quotes a cache path with spaces for it.)
# Every Wine command of the prefix (wine, and the tools Debian starts through
# wine-stable) runs the 64-bit loader of this directory; a 32-bit program is
# handed on to its partner. Each process must find both kinds of Wine's DLLs.
for name in wine wine64 wine-stable; do
  printf '#!/bin/bash\nunset WINELOADER\nexport WINEDLLPATH=%q\nexec %q "$@"\n' \
    "$sysroot/usr/lib/i386-linux-gnu/wine:/usr/lib/x86_64-linux-gnu/wine" "$dir/usr/lib/wine/wine64" \
    >"$tree/bin/$name"
  chmod +x "$tree/bin/$name"
done
echo "$route" >"$tree/route"
# Scripts are written once and moved into place whole: a script rewritten
# while a program starts through it can be read empty.
rm -rf "$dir"
mv "$tree" "$dir"
touch "$dir/.complete"
echo "$dir"
