#!/usr/bin/env bash
# ./run, ./package and ./test with their package installer, on a copy of the scripts, with apt-get, sudo, dpkg-query,
# id, cmake and ctest replaced by recorders: which lists each installs, what is said before, and that
# nothing can wait for an answer.
set -uo pipefail
source_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

repo="$work/repo"
mkdir -p "$repo/tools" "$repo/build" "$work/bin" "$work/tool/app"
cp "$source_dir/run" "$source_dir/test" "$source_dir/package" "$repo/"
cp "$source_dir/tools/install-deps" "$source_dir"/tools/packages*.txt "$repo/tools/"
log="$work/log"

stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" > "$work/bin/$1"; chmod +x "$work/bin/$1"; }
# Installed: the packages named in $INSTALLED (one per line); everything else is missing.
stub dpkg-query 'p="${@: -1}"; grep -qx "$p" "$INSTALLED" 2>/dev/null && printf "install ok installed"; true'
stub apt-get 'echo "apt-get $* DEBIAN_FRONTEND=${DEBIAN_FRONTEND:-}" >> "$LOG"'
stub id 'echo "$FAKE_UID"'
# sudo -n fails when FAKE_SUDO=password (it would have to ask); a plain sudo is never allowed here.
stub sudo 'echo "sudo $*" >> "$LOG"
[ "$1" = "-n" ] || { echo "sudo without -n" >> "$LOG"; exit 1; }
[ "${FAKE_SUDO:-}" = password ] && exit 1
shift; exec "$@"'
stub cmake 'echo "cmake $*" >> "$LOG"'
stub ctest 'echo "ctest $*" >> "$LOG"'
stub cpack 'echo "cpack $*" >> "$LOG"; while [ $# -gt 0 ]; do [ "$1" = -B ] && touch "$2/modulebench_0_amd64.deb"; shift; done'
printf '#!/bin/sh\necho "tool started" >> "$LOG"\n' > "$work/tool/app/modulebench"
chmod +x "$work/tool/app/modulebench"
touch "$work/tool/CMakeCache.txt"

packages() { sed -e 's/#.*//' -e 's/[[:space:]]//g' "$@" | grep -v '^$' | tr '\n' ' ' | sed 's/ $//'; }
run_packages="$(packages "$repo/tools/packages-run.txt")"
package_packages="$(packages "$repo/tools/packages-run.txt" "$repo/tools/packages-package.txt")"
all_packages="$(packages "$repo/tools/packages-run.txt" "$repo/tools/packages-package.txt" "$repo/tools/packages-test.txt")"

# One script run, without a terminal and under CI as on the build machine; its messages go into the log in order.
scenario() {
  : > "$log"
  : > "$work/installed"
  (cd "$repo" && env PATH="$work/bin:$PATH" LOG="$log" INSTALLED="$work/installed" MB_BUILD_DIR="$work/tool" \
     CI=1 MB_WINDOWS=0 FAKE_UID="$1" FAKE_SUDO="${2:-}" ${3:+INSTALLED="$3"} "./$4" </dev/null >>"$log" 2>&1)
  echo $? > "$work/status"
}
installed() { grep '^apt-get install' "$log" | sed -e 's/^apt-get install -y -qq --no-install-recommends -o [^ ]* -o [^ ]* //' -e 's/ DEBIAN_FRONTEND=.*//'; }

# ./run as a user with password-less sudo: the run list only, announced first, unattended.
scenario 1000 "" "" run
[ "$(cat "$work/status")" = 0 ] || fail "./run ended with $(cat "$work/status")"
[ "$(installed)" = "$run_packages" ] || fail "./run installed [$(installed)], wanted [$run_packages]"
grep -q '^apt-get install.*clang' "$log" && fail "./run installed the test toolchain"
grep -q '^apt-get install .*-y .*DEBIAN_FRONTEND=noninteractive$' "$log" || fail "./run: apt-get install not unattended"
grep -q '^apt-get update.*DEBIAN_FRONTEND=noninteractive$' "$log" || fail "./run: no unattended apt-get update"
grep -q '^sudo -n ' "$log" || fail "./run: sudo without -n"
grep -q 'sudo without -n' "$log" && fail "./run: a sudo that may ask for a password"
announced="$(grep -n "missing Debian packages.*$run_packages" "$log" | head -1 | cut -d: -f1)"
first_apt="$(grep -n '^apt-get' "$log" | head -1 | cut -d: -f1)"
[ -n "$announced" ] && [ -n "$first_apt" ] && [ "$announced" -lt "$first_apt" ] \
  || fail "./run did not name the packages before apt-get ran"
grep -q 'tool started' "$log" || fail "./run did not start the tool"

# ./test as root on a clean machine: both lists, no sudo.
scenario 0 "" "" test
[ "$(cat "$work/status")" = 0 ] || fail "./test ended with $(cat "$work/status")"
[ "$(installed)" = "$all_packages" ] || fail "./test installed [$(installed)], wanted [$all_packages]"
grep -q '^sudo' "$log" && fail "./test as root went through sudo"
grep -q '^ctest ' "$log" || fail "./test ran no ctest"

# ./package: what building the packages needs, not the test tools.
scenario 1000 "" "" package
[ "$(cat "$work/status")" = 0 ] || fail "./package ended with $(cat "$work/status")"
[ "$(installed)" = "$package_packages" ] || fail "./package installed [$(installed)], wanted [$package_packages]"
grep -q '^cpack ' "$log" || fail "./package ran no cpack"
rm -f "$repo"/*.deb

# A user whose sudo wants a password: nothing installed, the command to run is shown, the script fails.
scenario 1000 password "" test
[ "$(cat "$work/status")" != 0 ] || fail "./test went on without its packages"
grep -q '^apt-get' "$log" && fail "apt-get ran although sudo was refused"
grep -q "sudo apt-get install --no-install-recommends $all_packages" "$log" || fail "the command to run was not shown"
grep -q '^ctest ' "$log" && fail "tests ran without their packages"

# Everything in place: no word, no apt-get, no sudo.
printf '%s\n' $all_packages > "$work/present"
scenario 1000 "" "$work/present" test
[ "$(cat "$work/status")" = 0 ] || fail "./test ended with $(cat "$work/status") with everything installed"
grep -qE '^(apt-get|sudo)|missing' "$log" && fail "installer acted although nothing was missing: $(cat "$log")"

# Each list holds only package names, and no package sits in both.
dupes="$(printf '%s\n' $all_packages | sort | uniq -d)"
[ -z "$dupes" ] || fail "in both lists: $dupes"

[ "$failures" -eq 0 ] && echo "setup scripts: all cases passed"
exit $((failures > 0))
