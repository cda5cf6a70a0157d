#!/usr/bin/env bash
# Builds the Debian packages with CPack into a temporary folder and checks them: lintian finds no error (its
# warnings are printed), the window's package names what it needs at run time and no multimedia stack, and the
# programs unpacked into a throw-away root run from there without naming the build or source tree.
#   check_package.sh BUILD_DIR SOURCE_DIR VERSION
set -uo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
version="$3"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi

arch="$(dpkg --print-architecture)"
for package in modulebench modulebench-sim; do
  deb="$work/out/${package}_${version}_$arch.deb"
  [ -f "$deb" ] || { fail "no $(basename "$deb"): $(ls "$work/out")"; continue; }
  echo "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB, Installed-Size $(dpkg-deb -f "$deb" Installed-Size) KiB"
  echo "  Depends: $(dpkg-deb -f "$deb" Depends)"
  # Lintian's own exit status counts errors only; warnings are listed for the reader.
  if lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1; then
    pass "lintian $package$( [ -s "$work/lintian.log" ] && echo ", with:")"
  else
    fail "lintian $package:"
  fi
  sed 's/^/  /' "$work/lintian.log"
  dpkg-deb -x "$deb" "$work/root"
done

depends="$(dpkg-deb -f "$work/out/modulebench_${version}_$arch.deb" Depends 2>/dev/null)"
for needed in libasound2 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins fonts-wqy-microhei fonts-liberation2; do
  grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done
grep -q multimedia <<<"$depends" && fail "Depends names a multimedia library: $depends"

for tree in "$build" "$source"; do
  if found="$(grep -rl --binary-files=text -F "$tree" "$work/root")"; then
    fail "packaged files name $tree: $found"
  fi
done
for program in modulebench modulebench-sim; do
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY "$work/root/usr/bin/$program" --version 2>&1)"
  [ "$out" = "$program $version" ] && pass "unpacked $program --version" || fail "unpacked $program --version: $out"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "every package check passed"
