#!/usr/bin/env bash
# scripts/check-deps.sh, install-deps.sh and the test command's first step,
# run against a made-up machine: fake dpkg, dpkg-query, apt-get and id read
# and change a package database file, and a folder of dummy programs stands
# for PATH. Nothing of the real machine is looked at or installed.
# Usage: check_deps_test.sh SOURCE_DIR
set -uo pipefail
# The test command's own switches, when the suite runs under them, must not
# reach the test commands run here.
unset SKIP_INSTALL TESTS
root=$1
scripts=$root/scripts
list=$scripts/packages.txt
source "$(dirname "$0")/../support/script_test.sh"

fake=$work/fake   # fake dpkg tools; their state in $work/db, $work/foreign, $work/log
cmds=$work/cmds   # one dummy program for every command of the list
mkdir -p "$fake" "$cmds"

# db: "NAME ARCH STATUS..." a line, as dpkg-query -W prints each known copy
# of the packages asked for (the scripts ask for that format).
cat >"$fake/dpkg-query" <<EOF
#!$BASH
declare -A want=()
for a in "\$@"; do [ "\${a:0:1}" = - ] || want["\$a"]=1; done
declare -A seen=()
while read -r n rest; do
  [ -n "\${want["\$n"]:-}" ] || continue
  echo "\$n \$rest"
  seen["\$n"]=1
done <$work/db
rc=0
for n in "\${!want[@]}"; do
  [ -n "\${seen["\$n"]:-}" ] || { echo "dpkg-query: no packages found matching \$n" >&2; rc=1; }
done
exit \$rc
EOF
cat >"$fake/dpkg" <<EOF
#!$BASH
case "\$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) cat $work/foreign ;;
  --add-architecture) echo "dpkg \$*" >>$work/log; echo "\$2" >>$work/foreign ;;
  *) exit 2 ;;
esac
EOF
# apt-get install marks its packages installed, unless apt_broken exists
# (installs nothing, yet succeeds) or install_fails does (fails as apt does on
# a broken dependency). apt-get update fails as many more times as the number
# in update_fails says.
cat >"$fake/apt-get" <<EOF
#!$BASH
echo "apt-get \$*" >>$work/log
if [ "\$1" = update ]; then
  n=\$(cat $work/update_fails 2>/dev/null || echo 0)
  [ "\$n" -gt 0 ] || exit 0
  echo \$((n - 1)) >$work/update_fails
  echo "E: File has unexpected size (1234 != 5678). Mirror sync in progress?" >&2
  exit 100
fi
[ -e $work/apt_broken ] && exit 0
[ -e $work/install_fails ] && { echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; }
for a in "\$@"; do
  case "\$a" in
    -*|install) ;;
    *:*) echo "\${a%%:*} \${a#*:} install ok installed" >>$work/db ;;
    *) echo "\$a amd64 install ok installed" >>$work/db ;;
  esac
done
EOF
printf '#!%s\necho 0\n' "$BASH" >"$fake/id"
chmod +x "$fake"/*
cp "$fake/dpkg" "$fake/dpkg-query" "$cmds/"

packages=()
commands=()
while read -r pkg _ rest; do
  case "$pkg" in '' | '#'*) continue ;; esac
  packages+=("$pkg")
  for c in $rest; do commands+=("$c"); done
done <"$list"
[ ${#packages[@]} -gt 20 ] || fail "packages.txt lists only ${#packages[@]} packages"

full_db() {
  : >"$work/db"
  for p in "${packages[@]}"; do
    if [ "${p%%:*}" = "$p" ]; then
      echo "$p amd64 install ok installed" >>"$work/db"
    else
      echo "${p%%:*} ${p#*:} install ok installed" >>"$work/db"
    fi
  done
  echo i386 >"$work/foreign"
  : >"$work/log"
  rm -f "$work/apt_broken" "$work/install_fails" "$work/update_fails"
}
drop() {  # drop NAME ARCH: that copy of the package is not installed
  local n a s
  while read -r n a s; do
    [ "$n $a" = "$1 $2" ] || echo "$n $a $s"
  done <"$work/db" >"$work/db.new"
  mv "$work/db.new" "$work/db"
}
for c in "${commands[@]}"; do
  printf '#!/bin/sh\nexit 0\n' >"$cmds/$c"
  chmod +x "$cmds/$c"
done

# The check alone: PATH holds the dummy programs and nothing else.
check() { PATH=$cmds "$BASH" "$scripts/check-deps.sh" "$@"; }

full_db
out=$(check 2>&1) || fail "everything present, yet the check fails: $out"
grep -q "all ${#packages[@]} packages and ${#commands[@]} commands" <<<"$out" ||
  fail "the check does not count what it checked: $out"
[ -z "$(check --missing)" ] || fail "--missing names packages when none is missing"

full_db
drop gstreamer1.0-plugins-good i386
out=$(check 2>&1) && fail "the 32-bit GStreamer plugins are missing, yet the check passes"
grep -qx '  gstreamer1.0-plugins-good:i386' <<<"$out" || fail "the failure does not name the package: $out"
[ "$(grep -c '^  ' <<<"$out")" -eq 1 ] || fail "the failure names more than the missing package: $out"
[ "$(check --missing)" = gstreamer1.0-plugins-good:i386 ] || fail "--missing: $(check --missing)"

# Only the 32-bit copy of a package installed does not count for the 64-bit one.
full_db
drop gstreamer1.0-plugins-good amd64
out=$(check 2>&1) && fail "only the i386 copy is there, yet the check passes"
grep -qx '  gstreamer1.0-plugins-good' <<<"$out" || fail "the 64-bit copy is not named: $out"

# Removed but not purged: dpkg still knows the package, with its config files.
full_db
drop mtools amd64
echo "mtools amd64 deinstall ok config-files" >>"$work/db"
out=$(check 2>&1) && fail "a removed package passes the check"
grep -qx '  mtools' <<<"$out" || fail "the removed package is not named: $out"

# A package installed, but one of its commands gone from PATH.
full_db
rm "$cmds/mcopy"
out=$(check 2>&1) && fail "mcopy is missing, yet the check passes"
grep -q 'mcopy (mtools)' <<<"$out" || fail "the failure does not name the command and package: $out"
printf '#!/bin/sh\nexit 0\n' >"$cmds/mcopy"
chmod +x "$cmds/mcopy"

# The main job's group: a test-only package does not matter, its own ones do.
full_db
drop wine64 amd64
check run >/dev/null 2>&1 || fail "check-deps run fails for a package only the tests need"
drop dosfstools amd64
rm "$cmds/ninja"
out=$(check run 2>&1) && fail "check-deps run passes without dosfstools and ninja"
grep -qx '  dosfstools' <<<"$out" || fail "check-deps run does not name dosfstools: $out"
grep -q 'ninja (ninja-build)' <<<"$out" || fail "check-deps run does not name ninja: $out"
grep -q wine64 <<<"$out" && fail "check-deps run names a test-only package: $out"
printf '#!/bin/sh\nexit 0\n' >"$cmds/ninja"
chmod +x "$cmds/ninja"

# A line of the list with a group the scripts do not know is refused.
printf 'cmake run cmake\nfoo tset\n' >"$work/bad-list"
out=$(PACKAGES_FILE=$work/bad-list check 2>&1)
[ $? -eq 2 ] || fail "a list with an unknown group is not refused: $out"
grep -q "bad-list:2" <<<"$out" || fail "the refusal does not name the line: $out"

# install-deps: the fake dpkg tools before the real ones on PATH.
install() { APT_UPDATE_PAUSE=0 PATH=$fake:$PATH "$BASH" "$scripts/install-deps.sh" "$@"; }
full_db
install >/dev/null 2>&1 || fail "install-deps fails with everything installed"
[ -s "$work/log" ] && fail "install-deps ran apt-get or dpkg with everything installed: $(cat "$work/log")"

full_db
drop gstreamer1.0-plugins-good i386
drop sox amd64
: >"$work/foreign"
install >/dev/null 2>&1 || fail "install-deps fails to install two packages"
grep -qx 'dpkg --add-architecture i386' "$work/log" || fail "i386 packages wanted, but the architecture was not added"
grep -q 'apt-get install.* sox gstreamer1.0-plugins-good:i386$' "$work/log" ||
  fail "apt-get was not asked for exactly the missing packages: $(cat "$work/log")"
grep -q -- '-y' "$work/log" || fail "apt-get may ask questions: $(cat "$work/log")"
[ -z "$(check --missing)" ] || fail "still missing after install-deps: $(check --missing)"
: >"$work/log"
install >/dev/null 2>&1 || fail "install-deps fails when run again"
[ -s "$work/log" ] && fail "install-deps is not idempotent: $(cat "$work/log")"

full_db
drop lame amd64
install run >/dev/null 2>&1 || fail "install-deps run fails"
[ -s "$work/log" ] && fail "install-deps run installs a test-only package: $(cat "$work/log")"
drop nasm amd64
install run >/dev/null 2>&1 || fail "install-deps run fails to install nasm"
grep -q 'apt-get install.* nasm$' "$work/log" || fail "install-deps run did not install nasm: $(cat "$work/log")"
grep -q ' lame' "$work/log" && fail "install-deps run installed lame: $(cat "$work/log")"

full_db
drop lame amd64
touch "$work/apt_broken"
out=$(install 2>&1) && fail "install-deps succeeds although apt-get installed nothing"
grep -q 'still not installed.*lame' <<<"$out" || fail "the failure does not name lame: $out"

# A mirror in the middle of a sync: the index update is tried again, and
# when it keeps failing the install still goes on with the indexes there are.
updates() { grep -c '^apt-get update' "$work/log"; }
full_db
drop sox amd64
echo 2 >"$work/update_fails"
install >/dev/null 2>&1 || fail "install-deps gives up although the third index update succeeds"
[ "$(updates)" -eq 3 ] || fail "the index update was not tried until it succeeded: $(cat "$work/log")"
full_db
drop sox amd64
echo 9 >"$work/update_fails"
out=$(install 2>&1) || fail "install-deps stops at a failing index update: $out"
[ "$(updates)" -eq 3 ] || fail "the failing index update was not tried three times: $(cat "$work/log")"
grep -q 'apt-get install.* sox$' "$work/log" || fail "no install after the failed updates: $(cat "$work/log")"
[ -z "$(check --missing)" ] || fail "sox is not installed after the failed updates"
# The install itself fails: one last line says which step, what, and why.
full_db
drop sox amd64
drop gstreamer1.0-plugins-good i386
echo 9 >"$work/update_fails"
touch "$work/install_fails"
out=$(install 2>&1) && fail "install-deps succeeds although apt-get install failed"
last=$(tail -1 <<<"$out")
grep -q '^install-deps: apt-get install failed for sox gstreamer1.0-plugins-good:i386; ' <<<"$last" ||
  fail "the failure does not name the step and the packages: $last"
grep -q 'mirror out of sync.*again later' <<<"$last" || fail "the failure does not name the likely cause: $last"

# The test command with SKIP_INSTALL=1 stops at the check, naming the package,
# before it builds anything. Run in a copy of scripts/ whose build.sh only
# leaves a mark.
tree=$work/tree
mkdir -p "$tree/scripts"
cp "$scripts/test.sh" "$scripts/check-deps.sh" "$scripts/install-deps.sh" "$list" "$tree/scripts/"
printf '#!/bin/sh\ntouch "%s/built"\nexit 1\n' "$work" >"$tree/scripts/build.sh"
chmod +x "$tree/scripts/"*.sh
full_db
drop gstreamer1.0-plugins-good i386
out=$(SKIP_INSTALL=1 PATH=$fake:$PATH "$BASH" "$tree/scripts/test.sh" 2>&1) &&
  fail "the test command passes with a package missing"
grep -qx '  gstreamer1.0-plugins-good:i386' <<<"$out" || fail "the test command does not name the package: $out"
[ "$(tail -1 <<<"$out")" = "0 passed, 1 failed" ] || fail "the test command's summary: $(tail -1 <<<"$out")"
[ -e "$work/built" ] && fail "the test command built before the check"
[ -s "$work/log" ] && fail "SKIP_INSTALL=1 installed: $(cat "$work/log")"
# Without the switch it installs the package, passes the check and builds.
out=$(PATH=$fake:$PATH "$BASH" "$tree/scripts/test.sh" 2>&1)
grep -q 'apt-get install.* gstreamer1.0-plugins-good:i386$' "$work/log" ||
  fail "the test command did not install the package: $(cat "$work/log")"
[ -e "$work/built" ] || fail "the test command did not go on to build after installing: $out"

finish check-deps "missing packages and commands named, installed and refused as they should be"
