#!/usr/bin/env bash
# Installs the Debian packages of scripts/packages.txt that are missing.
# Idempotent and non-interactive: does nothing when everything is there.
# Usage: scripts/install-deps.sh [run|all]
#   run   only what the main job needs (default: all, for the tests)
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
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null

# What apt-get installed must now pass the check.
list=$("$here/check-deps.sh" --missing "$group")
if [ -n "$list" ]; then
  echo "install-deps: still not installed after apt-get:" "${list//$'\n'/ }" >&2
  exit 1
fi
