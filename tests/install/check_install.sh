#!/usr/bin/env bash
# Installs the build into a temporary prefix, stripped as a package is, and checks the tree a desktop gets:
# the programs run from there (--help and --version without a display, the window on an Xvfb display with its
# class and icon), the desktop entry and the metadata validate, the manual pages render without
# warnings, every icon size exists, and nothing refers to the build or source tree.
#   check_install.sh BUILD_DIR SOURCE_DIR VERSION
set -uo pipefail
build="$(cd "$1" && pwd)"
source="$(cd "$2" && pwd)"
version="$3"
id=com.kavor.ModuleBench
title="KAVOR MARDEN-F Module Config V3.20-01"

work="$(mktemp -d)"
xvfb_pid=""
window_pid=""
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

root="$work/root"
prefix="$root/usr"
if ! cmake --install "$build" --prefix "$prefix" --strip >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "FAIL: cmake --install"
  exit 1
fi

# Programs, without the build tree: no run path, no path into the build or source folders anywhere.
programs=(modulebench modulebench-sim)
[ -e "$build/cli/modulebench-cli" ] && programs+=(modulebench-cli)
for program in "${programs[@]}"; do
  binary="$prefix/bin/$program"
  [ -x "$binary" ] || { fail "$program not installed"; continue; }
  if readelf -d "$binary" | grep -Eq 'R(UN)?PATH'; then
    fail "$program has a run path: $(readelf -d "$binary" | grep -E 'R(UN)?PATH')"
  fi
done
for tree in "$build" "$source"; do
  if found="$(grep -rl --binary-files=text -F "$tree" "$root")"; then
    fail "installed files name $tree: $found"
  fi
done

# --help and --version need no display: the window program must not reach for one.
nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
for program in "${programs[@]}"; do
  out="$("${nodisplay[@]}" "$prefix/bin/$program" --version 2>&1)"
  [ $? -eq 0 ] && [ "$out" = "$program $version" ] && pass "$program --version" \
    || fail "$program --version gave: $out"
  out="$("${nodisplay[@]}" "$prefix/bin/$program" --help 2>&1)"
  [ $? -eq 0 ] && grep -Eq "^Usage: (.*/)?$program " <<<"$out" && pass "$program --help" \
    || fail "$program --help gave: $out"
done

# Desktop entry and metadata, with the tools the desktops and Debian use.
desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
desktop-file-validate "$desktop" && pass "desktop-file-validate" || fail "desktop-file-validate"
grep -qx "Exec=modulebench" "$desktop" && grep -qx "Icon=$id" "$desktop" && grep -qx "StartupWMClass=$id" "$desktop" \
  || fail "desktop entry does not name modulebench and $id"
appstreamcli validate --no-net --pedantic "$metainfo" && pass "appstreamcli validate" || fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metadata without release $version"
# The whole tree as a software centre reads it: the metadata with its desktop entry and icons.
appstreamcli validate-tree --no-net "$root" && pass "appstreamcli validate-tree" || fail "appstreamcli validate-tree"

# Icons at every size the desktop asks for.
for size in 16 22 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  file "$icon" 2>/dev/null | grep "PNG image data, $size x $size," >/dev/null || fail "icon ${size}x$size: $(file "$icon")"
done
[ -s "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "scalable icon missing"

# Manual pages render without a warning, through man and through groff -ww.
for program in "${programs[@]}"; do
  page="$prefix/share/man/man1/$program.1.gz"
  [ -f "$page" ] || { fail "no manual page for $program"; continue; }
  warnings="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)"
  warnings+="$(zcat "$page" | groff -ww -man -Tutf8 -z 2>&1)"
  [ -z "$warnings" ] && pass "man $program" || fail "man $program: $warnings"
  zcat "$page" | grep "$version" >/dev/null || fail "manual page of $program without version $version"
done

# The window: started from the prefix on an X display of its own, in a private settings folder whose port
# links point nowhere, with a sound device that plays nothing; found by its title, then ended.
config="$work/config"
mkdir -p "$config/home/KAVOR/ports" "$config/dirs"
for n in $(seq 1 16); do ln -s "$work/no-device-COM$n" "$config/home/KAVOR/ports/COM$n"; done
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
read -r -t 10 display <"$work/display"
if [ -z "$display" ]; then
  fail "Xvfb did not start: $(cat "$work/xvfb.log")"
else
  export DISPLAY=":$display"
  XDG_CONFIG_HOME="$config/home" XDG_CONFIG_DIRS="$config/dirs" XDG_RUNTIME_DIR="$work" \
    ALSA_CONFIG_PATH="$source/tests/support/alsa-null.conf" "$prefix/bin/modulebench" >"$work/window.log" 2>&1 &
  window_pid=$!
  shown=0
  for _ in $(seq 1 200); do
    if xwininfo -name "$title" >/dev/null 2>&1; then shown=1; break; fi
    kill -0 "$window_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ "$shown" -eq 1 ]; then
    pass "window shown"
    class="$(xprop -name "$title" WM_CLASS)"
    grep -q "\"$id\", \"KAVOR MARDEN-F Module Config\"" <<<"$class" && pass "window class" \
      || fail "window class: $class"
    # Qt sets every size but the largest; a desktop scales the 128-pixel one.
    sizes="$(xprop -name "$title" _NET_WM_ICON | grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')"
    [ "$sizes" = "Icon (16 x 16) Icon (22 x 22) Icon (24 x 24) Icon (32 x 32) Icon (48 x 48) Icon (64 x 64) Icon (128 x 128) " ] \
      && pass "window icon" || fail "window icon sizes: $sizes"
  else
    fail "window not shown: $(cat "$work/window.log")"
  fi
  kill -TERM "$window_pid" 2>/dev/null
  wait "$window_pid" 2>/dev/null
  window_pid=""
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "every install check passed"
