#!/usr/bin/env bash
# The operator's release: Release programs for i686 and x86_64 with the
# operator's resource address and manifest keys, signed when a certificate
# is given, packed into one installer for players.
#
#   scripts/release.sh --version V --base-url URL --config wdConfig.ini
#                      [--public-key PEM]... [--sign-cert FILE.pfx --sign-pass-file FILE]
#                      [--no-check] -o DIR
#
# Writes DIR/OrvaneSetup-V.exe and DIR/OrvaneSetup-V.exe.sha256, once the
# installer has installed the programs under Wine, byte for byte (unless
# --no-check); beside them DIR/front-door/ (the same programs, for
# qalManifest build --front-door: ARCH/qalLogin.exe, ARCH/qalUpdate.exe and
# VERSION) and DIR/tools/ (qalManifest for the operators: windows/
# qalManifest.exe and linux/qalManifest). Sets the machine up first, as the
# other scripts do. The build trees go to build/release-TARGET
# (QAL_RELEASE_BUILD_ROOT moves them). Without a certificate the same inputs
# give the same installer bytes.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
me=scripts/release.sh

usage() {
  cat >&2 <<USAGE
usage: $me --version V --base-url URL --config wdConfig.ini
                          [--public-key PEM]... [--sign-cert FILE.pfx --sign-pass-file FILE]
                          [--no-check] -o DIR
  --version V          the release's version, digits and dots (e.g. 1.0.3)
  --base-url URL       the resource server's base address built into the updater,
                       http:// or https://, ending in "/"
  --config FILE        the wdConfig.ini the installer puts beside the launcher
  --public-key PEM     a manifest key the updater trusts (repeatable; none: the
                       updater takes unsigned manifests)
  --sign-cert FILE     a PKCS#12 code-signing certificate; with --sign-pass-file,
                       the file holding its password
  --no-check           do not try the installer under Wine before writing it
  -o DIR               where the installer and its SHA-256 go, with front-door/
                       (the programs to offer players through the manifest) and
                       tools/ (qalManifest for Windows and Linux)
USAGE
  exit 2
}

fail() {
  echo "$me: $*" >&2
  exit 1
}

version="" base_url="" config="" out="" cert="" pass_file="" check=1
keys=()
while [ $# -gt 0 ]; do
  case $1 in
    --version|--base-url|--config|--public-key|--sign-cert|--sign-pass-file|-o)
      [ $# -ge 2 ] || { echo "$me: $1 needs a value" >&2; usage; }
      case $1 in
        --version) version=$2 ;;
        --base-url) base_url=$2 ;;
        --config) config=$2 ;;
        --public-key) keys+=("$2") ;;
        --sign-cert) cert=$2 ;;
        --sign-pass-file) pass_file=$2 ;;
        -o) out=$2 ;;
      esac
      shift 2 ;;
    --no-check) check=0; shift ;;
    -h|--help) usage ;;
    *) echo "$me: unknown argument \"$1\"" >&2; usage ;;
  esac
done
[ -n "$version" ] && [ -n "$base_url" ] && [ -n "$config" ] && [ -n "$out" ] || {
  echo "$me: --version, --base-url, --config and -o are required" >&2; usage; }
[[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]] || { echo "$me: --version must be digits and dots, like 1.0.3" >&2; usage; }
[[ $base_url =~ ^https?://[^/]+/.*/$ || $base_url =~ ^https?://[^/]+/$ ]] || {
  echo "$me: --base-url must be an http:// or https:// address ending in \"/\"" >&2; usage; }
if [ -n "$cert" ] || [ -n "$pass_file" ]; then
  [ -n "$cert" ] && [ -n "$pass_file" ] || { echo "$me: --sign-cert and --sign-pass-file go together" >&2; usage; }
fi

absolute() { (cd "$(dirname "$1")" && printf '%s/%s' "$(pwd)" "$(basename "$1")"); }
[ -f "$config" ] || fail "--config $config: no such file"
config=$(absolute "$config")
for i in "${!keys[@]}"; do
  [ -f "${keys[$i]}" ] || fail "--public-key ${keys[$i]}: no such file"
  keys[$i]=$(absolute "${keys[$i]}")
done
if [ -n "$cert" ]; then
  [ -f "$cert" ] || fail "--sign-cert $cert: no such file"
  [ -f "$pass_file" ] || fail "--sign-pass-file $pass_file: no such file"
  cert=$(absolute "$cert")
  pass_file=$(absolute "$pass_file")
fi
mkdir -p "$out" || fail "cannot create $out"
out=$(cd "$out" && pwd)

step() { echo "== $*" >&2; }

step "setting up the machine"
if [ "$(id -u)" -eq 0 ]; then
  bash "$root/scripts/setup-debian.sh" >&2 || fail "the set-up failed"
else
  sudo bash "$root/scripts/setup-debian.sh" >&2 || fail "the set-up failed"
fi

if [ "$check" -eq 1 ]; then
  # Wine's 32-bit side, for the user who runs the release, not as root.
  # shellcheck source=scripts/wine-env.sh
  source "$root/scripts/wine-env.sh"
  qal_use_wine "$root/scripts" || fail "preparing Wine's 32-bit side failed"
fi

build_root=${QAL_RELEASE_BUILD_ROOT:-$root/build/release}
stage=$(mktemp -d "$out/.stage.XXXXXX")
installer=$out/OrvaneSetup-$version.exe
partial=$out/.OrvaneSetup-$version.exe.part
extras=$out/.extras.$$
# Nothing half-written is left in DIR, whatever step fails.
cleanup() { rm -rf "$stage" "$partial" "$partial.unsigned" "$extras"; }
trap cleanup EXIT

key_list=$(IFS=';'; echo "${keys[*]:-}")
for target in i686 x86_64; do
  tree=$build_root-$target
  step "building the $target programs in $tree"
  cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$target-w64-mingw32.cmake" \
        -DQAL_RESOURCE_BASE_URL="$base_url" -DQAL_MANIFEST_PUBLIC_KEYS="$key_list" \
        -DQAL_BUILD_TESTS=OFF -DQAL_REPRODUCIBLE=ON >&2 || fail "configuring the $target build failed"
  # Operators run the 64-bit qalManifest.exe; the 32-bit one is never shipped.
  programs=(qalLogin qalUpdate)
  [ "$target" = x86_64 ] && programs+=(qalManifest)
  cmake --build "$tree" --target "${programs[@]}" >&2 || fail "building the $target programs failed"
  mkdir -p "$stage/$target"
  cp "$tree/launcher/qalLogin.exe" "$tree/updater/qalUpdate.exe" "$stage/$target/" ||
    fail "copying the $target programs failed"
done
# The operators' tool: the Windows one from the 64-bit tree, and a native
# one (it needs libssl3, libzstd1 and libtinyxml2-9 on a Debian 12 machine).
tree=$build_root-linux
step "building qalManifest for Linux in $tree"
cmake -S "$root" -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQAL_RESOURCE_BASE_URL="$base_url" \
      -DQAL_CROSS_TARGETS= -DQAL_FUZZ_BUILD=OFF -DQAL_BUILD_TESTS=OFF -DQAL_SANITIZE=OFF >&2 ||
  fail "configuring the Linux build failed"
cmake --build "$tree" --target qalManifest >&2 || fail "building qalManifest for Linux failed"
mkdir -p "$extras/tools/windows" "$extras/tools/linux"
cp "$build_root-x86_64/tools/qalManifest/qalManifest.exe" "$extras/tools/windows/" &&
  cp "$tree/tools/qalManifest/qalManifest" "$extras/tools/linux/" || fail "copying qalManifest failed"
cp "$config" "$stage/wdConfig.ini"
cp "$root/launcher/res/qalLogin.ico" "$stage/qalLogin.ico"

sign() {  # sign FILE: in place, Authenticode SHA-256
  osslsigncode sign -pkcs12 "$cert" -readpass "$pass_file" -h sha256 -n "Orvane" \
    -in "$1" -out "$1.signed" >/dev/null && mv "$1.signed" "$1"
}
sign_command=()
if [ -n "$cert" ]; then
  step "signing the programs"
  for exe in "$stage"/*/qal*.exe "$extras/tools/windows/qalManifest.exe"; do
    sign "$exe" || fail "signing $(basename "$(dirname "$exe")")/$(basename "$exe") failed"
  done
  # The uninstaller is made inside makensis, and signed there.
  sign_command=(-DSIGN_COMMAND="osslsigncode sign -pkcs12 \"$cert\" -readpass \"$pass_file\" -h sha256 -n Orvane -in \"%1\" -out \"%1.signed\" && mv \"%1.signed\" \"%1\"")
else
  echo "$me: no certificate given: the programs and the installer are NOT signed (Windows will warn players)" >&2
fi

# Installs INSTALLER silently into a throwaway Wine prefix (a 64-bit
# Windows, so the x86_64 programs) and compares what it laid out with what
# went in. The installer is a 32-bit program: this runs Wine's 32-bit side,
# natively or under emulation (scripts/setup-wine32.sh).
check_installer() {
  local check=$build_root-check status=0 name
  rm -rf "$check"
  mkdir -p "$check/home"
  cp "$1" "$check/setup.exe"
  (
    # A fresh prefix links Desktop and the like into HOME.
    export WINEPREFIX=$check/wineprefix HOME=$check/home WINEDEBUG=-all WINEARCH=win64 \
           WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    unset DISPLAY
    trap 'qal_stop_tree "$check"' EXIT
    qal_ensure_display "$check" && qal_ensure_prefix "$check" "$root/scripts" &&
      wine "$check/setup.exe" /S '/D=C:\OrvaneCheck' </dev/null >"$check/setup.log" 2>&1
  ) || status=$?
  if [ "$status" -ne 0 ]; then
    echo "$me: the silent install failed (exit $status)" >&2
  else
    for name in x86_64/qalLogin.exe x86_64/qalUpdate.exe wdConfig.ini; do
      if ! cmp -s "$stage/$name" "$check/wineprefix/drive_c/OrvaneCheck/$(basename "$name")"; then
        echo "$me: the installed $(basename "$name") is not the one packed" >&2
        status=1
      fi
    done
  fi
  [ "$status" -ne 0 ] || rm -rf "$check"
  return "$status"
}

step "making the installer"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$partial" \
  "${sign_command[@]}" "$root/installer/Orvane.nsi" >&2 || fail "makensis failed"
if [ -n "$cert" ]; then
  step "signing the installer"
  sign "$partial" || fail "signing the installer failed"
fi
if [ "$check" -eq 1 ]; then
  step "trying the installer under Wine"
  check_installer "$partial" || fail "the installer did not install the programs it holds"
fi
( cd "$out" && sha256sum "$(basename "$partial")" | sed "s/\.OrvaneSetup-$version\.exe\.part/OrvaneSetup-$version.exe/" ) \
  > "$installer.sha256.part" || fail "computing the installer's SHA-256 failed"
# The programs the installer holds, for offering them to players who
# installed an earlier front door (qalManifest build --front-door).
for target in i686 x86_64; do
  mkdir -p "$extras/front-door/$target" && cp "$stage/$target/qalLogin.exe" "$stage/$target/qalUpdate.exe" \
    "$extras/front-door/$target/" || fail "copying the $target front door failed"
done
echo "$version" > "$extras/front-door/VERSION" || fail "writing the front door's VERSION failed"
rm -rf "$out/front-door" "$out/tools"
mv "$extras/front-door" "$extras/tools" "$out/" || fail "writing $out/front-door and $out/tools failed"
mv "$partial" "$installer" && mv "$installer.sha256.part" "$installer.sha256" || fail "writing $installer failed"
echo "$installer"
