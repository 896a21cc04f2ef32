#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing.
# Idempotent and non-interactive: does nothing when everything is there.
# Usage: scripts/install-deps.sh [run|all]
#   run   only what the main job needs (default: all, for the tests)
# A mirror that is being synchronised can fail an index for a while: the
# index update is tried APT_UPDATE_TRIES times (default 3), APT_UPDATE_PAUSE
# seconds apart (default 20); then the install goes on with the indexes there
# are, and the install and the package check decide.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
group=${1:-all}

list=$("$here/check-deps.sh" --missing "$group")
[ -n "$list" ] || exit 0
mapfile -t missing <<<"$list"

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: packages missing and not running as root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
for p in "${missing[@]}"; do
  case "$p" in
    *:i386)
      if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
      fi
      break ;;
  esac
done
tries=${APT_UPDATE_TRIES:-3}
pause=${APT_UPDATE_PAUSE:-20}
for ((try = 1; ; try++)); do
  apt-get update -qq </dev/null && break
  if [ "$try" -ge "$tries" ]; then
    echo "install-deps: apt-get update failed $try times; going on with the package indexes there are" >&2
    break
  fi
  echo "install-deps: apt-get update failed (try $try of $tries); trying again in $pause s" >&2
  sleep "$pause"
done
mirror="a package mirror out of sync may be the cause: run scripts/install-deps.sh again later"
if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null; then
  echo "install-deps: apt-get install failed for ${missing[*]}; $mirror" >&2
  exit 1
fi

# What apt-get installed must now pass the check.
list=$("$here/check-deps.sh" --missing "$group")
if [ -n "$list" ]; then
  echo "install-deps: still not installed after apt-get:" "${list//$'\n'/ }; $mirror" >&2
  exit 1
fi
