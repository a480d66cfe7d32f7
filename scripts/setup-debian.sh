#!/usr/bin/env bash
# Installs every system package that building and testing both programs needs
# on a Debian 12 machine. Run as root; running it again changes nothing.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "setup-debian.sh must run as root (it installs Debian packages)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

packages=(
  cmake ninja-build g++ make pkg-config git
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libtinyxml2-dev libzstd-dev zstd libgtest-dev googletest libbenchmark-dev libssl-dev
  wine wine64 patchelf
  xvfb x11-utils xauth libx11-6 imagemagick pngquant fonts-wqy-zenhei fonts-dejavu-core
  python3 python3-pil dpkg-dev locales openssl
  clang libclang-rt-14-dev libxtst6
  nsis osslsigncode
  nginx-light
)
# nginx plays a CDN's caching edge in the tests, started and stopped by them
# on a loopback port; nothing here starts it as a service.
# Wine's 32-bit side is not among them: scripts/setup-wine32.sh prepares it
# for the user who runs the tests, with nothing i386 installed here.

# tinyxml2 for the Windows targets is built from Debian's own source package,
# which needs deb-src entries for the suites already configured.
need_update=0
add_deb_src() {
  local f=/etc/apt/sources.list.d/debian.sources
  if [ -f "$f" ] && ! grep -q '^Types:.*deb-src' "$f"; then
    sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
    need_update=1
  fi
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list \
     && ! grep -q '^deb-src ' /etc/apt/sources.list; then
    sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list >> /etc/apt/sources.list
    need_update=1
  fi
}
add_deb_src

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

lists_fresh=0
if [ -d /var/lib/apt/lists ] && [ -n "$(find /var/lib/apt/lists -maxdepth 1 -name '*Sources*' -print -quit 2>/dev/null)" ]; then
  lists_fresh=1
fi

# One index that fails to download (a mirror half-synced for hours, an
# architecture or suite none of these packages come from) must not end the
# set-up: the update is tried again once, and then the install of the named
# packages is the judge.
update_log=$(mktemp)
trap 'rm -f "$update_log"' EXIT
if [ "$need_update" -eq 1 ] || [ "$lists_fresh" -eq 0 ] || [ "${#missing[@]}" -gt 0 ]; then
  if ! apt-get update -qq >"$update_log" 2>&1; then
    sleep 5
    apt-get update -qq >"$update_log" 2>&1 ||
      echo "setup: apt-get update reported a failure (going on; the install decides): $(grep -m 1 '^E:' "$update_log")" >&2
  fi
fi

# Says in one line which package cannot be installed and why.
explain_failure() {
  local p why
  for p in "$@"; do
    if [ -z "$(apt-cache policy "$p" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -v '(none)')" ]; then
      echo "setup: cannot install $p: the archive offers no version of it$(grep -m 1 -o 'E: .*' "$update_log" | sed 's/^E: / (apt-get update: /;s/$/)/')" >&2
      return
    fi
    why=$(apt-get install -s -qq --no-install-recommends "$p" 2>&1 | grep -m 1 -E '^(E:| .*: Depends:)' || true)
    if [ -n "$why" ]; then
      echo "setup: cannot install $p: $(echo "$why" | sed 's/^E: //;s/^ *//')" >&2
      return
    fi
  done
  echo "setup: installing ${*} failed; apt-get said: $(grep -m 1 '^E:' "$install_log" || echo 'nothing more')" >&2
}

# The downloaded packages are deleted once installed: on a fresh machine they
# take 1.7 GB that the tests need.
if [ "${#missing[@]}" -gt 0 ]; then
  install_log=$(mktemp)
  trap 'rm -f "$update_log" "$install_log"' EXIT
  if ! apt-get install -y -qq --no-install-recommends -o APT::Keep-Downloaded-Packages=false "${missing[@]}" >"$install_log" 2>&1; then
    explain_failure "${missing[@]}"
    exit 1
  fi
fi

# Wine takes a program's ANSI code page from its locale: the tests run a
# Chinese installation under code page 936 with LANG=zh_CN.UTF-8.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  if ! grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  fi
  locale-gen >/dev/null
fi
echo "setup: all packages present"
