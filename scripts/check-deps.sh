#!/usr/bin/env bash
# Checks that every package of scripts/packages.txt is installed and every
# command named there is on PATH; fails, naming each missing one.
# Usage: scripts/check-deps.sh [--missing] [run|all]
#   run       only what the main job needs (default: all, for the tests)
#   --missing prints the missing packages, one a line, and nothing else
# PACKAGES_FILE=file overrides scripts/packages.txt.
#
# Uses nothing but bash, dpkg and dpkg-query, so that it can report any other
# command as missing.
set -uo pipefail
here=${BASH_SOURCE[0]%/*}
[ "$here" != "${BASH_SOURCE[0]}" ] || here=.
list=${PACKAGES_FILE:-$here/packages.txt}

mode=report
group=all
for a in "$@"; do
  case "$a" in
    --missing) mode=missing ;;
    run | all) group=$a ;;
    *) echo "check-deps: unknown argument '$a' (usage: check-deps.sh [--missing] [run|all])" >&2; exit 2 ;;
  esac
done

if ! command -v dpkg-query >/dev/null 2>&1 || ! native=$(dpkg --print-architecture 2>/dev/null); then
  echo "check-deps: dpkg and dpkg-query are needed (a Debian system)" >&2
  exit 2
fi
if [ ! -r "$list" ]; then
  echo "check-deps: cannot read $list" >&2
  exit 2
fi

# The list's lines: PACKAGE GROUP COMMANDS, of the chosen group.
pkgs=()
pkg_cmds=()
lineno=0
while read -r pkg pgroup cmds; do
  lineno=$((lineno + 1))
  case "$pkg" in '' | '#'*) continue ;; esac
  case "$pgroup" in
    run) ;;
    test) [ "$group" = all ] || continue ;;
    *) echo "check-deps: $list:$lineno: group '$pgroup' is neither run nor test" >&2; exit 2 ;;
  esac
  pkgs+=("$pkg")
  pkg_cmds+=("${cmds%%#*}")
done <"$list"

# The installed copies of those packages, one query for all: "NAME ARCH" for
# each copy that is installed (not merely known, as a removed one still is).
declare -A have=()
names=()
for p in "${pkgs[@]}"; do names+=("${p%%:*}"); done
while read -r name arch status; do
  [ "$status" = "install ok installed" ] && have["$name $arch"]=1
done < <(dpkg-query -W -f='${Package} ${Architecture} ${Status}\n' "${names[@]}" 2>/dev/null)

# True when PACKAGE[:ARCH] is installed. A name without an architecture means
# the machine's own (or "all"): the 32-bit copy of a package alone does not
# count for it.
installed() {
  local name=${1%%:*} want=$native
  [ "$name" = "$1" ] || want=${1#*:}
  [ -n "${have["$name $want"]:-}" ] || [ -n "${have["$name all"]:-}" ]
}

npkg=${#pkgs[@]}
ncmd=0
missing_pkgs=()
missing_cmds=()
for i in "${!pkgs[@]}"; do
  installed "${pkgs[$i]}" || missing_pkgs+=("${pkgs[$i]}")
  for c in ${pkg_cmds[$i]}; do
    ncmd=$((ncmd + 1))
    command -v "$c" >/dev/null 2>&1 || missing_cmds+=("$c (${pkgs[$i]})")
  done
done

if [ "$mode" = missing ]; then
  [ ${#missing_pkgs[@]} -eq 0 ] || printf '%s\n' "${missing_pkgs[@]}"
  exit 0
fi

if [ ${#missing_pkgs[@]} -eq 0 ] && [ ${#missing_cmds[@]} -eq 0 ]; then
  echo "check-deps: all $npkg packages and $ncmd commands are there"
  exit 0
fi
if [ ${#missing_pkgs[@]} -gt 0 ]; then
  echo "check-deps: packages not installed (scripts/install-deps.sh installs them):" >&2
  printf '  %s\n' "${missing_pkgs[@]}" >&2
fi
if [ ${#missing_cmds[@]} -gt 0 ]; then
  echo "check-deps: commands not found on PATH (and their packages):" >&2
  printf '  %s\n' "${missing_cmds[@]}" >&2
fi
exit 1
