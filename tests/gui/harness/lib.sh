# Harness for end-to-end GUI tests under Wine. Test scripts source it:
#
#   source "${GUI_HARNESS:?run this test through ctest}"
#   gui_start app "$GUI_PROGRAM_vornak"
#   gui_script <<'EOF'
#   msgbox --caption "Format" --expect-icon exclamation --answer Cancel
#   EOF
#   gui_wait_exit app
#
# Environment (set by gui_add_test in CMake; defaults for a run by hand):
#   GUIDRIVER        path of guidriver.exe (required)
#   GUI_BUILD_DIR    the windows build tree (default: two levels above GUIDRIVER's folder)
#   GUI_TEST_NAME    name of the test (default: the script's file name)
#   SCREENSHOT_DIR   where screenshots go (default: $GUI_BUILD_DIR/screenshots)
#   GUI_TIMEOUT      seconds for each driver wait (default 15)
#   GUI_PROGRAM_<target>  paths of the programs under test
#   WINEPREFIX, DISPLAY   the session of scripts/wine-session.sh; without one the
#                    harness starts its own and ends it on exit.
#
# Every gui_* call that fails prints "FAIL [test]: reason", saves a screenshot and
# ends the script with status 1. The EXIT trap ends only the processes this script
# started, then the wineserver of the prefix, and restarts the wineserver detached.

set -uo pipefail

_gui_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
GUI_TEST_NAME=${GUI_TEST_NAME:-$(basename "$0" .sh)}
GUI_TIMEOUT=${GUI_TIMEOUT:-15}
GUI_PIDS=()
GUI_EXIT_CODE=
_gui_own_session=0
_gui_shots=0

gui_log() { echo "[$GUI_TEST_NAME] $*" >&2; }

# Saves a screenshot of the whole screen as $SCREENSHOT_DIR/<test>-<name>.png.
gui_screenshot() {
  local name=${1:-shot}
  _gui_shots=$((_gui_shots + 1))
  local file="$SCREENSHOT_DIR/$GUI_TEST_NAME-$name.png"
  if timeout -k 2 20 wine "$GUIDRIVER" screenshot "$file" </dev/null >/dev/null 2>&1; then
    gui_log "screenshot $file"
  elif command -v import >/dev/null && timeout 20 import -window root -display "$DISPLAY" "$file" 2>/dev/null; then
    gui_log "screenshot $file (import)"
  else
    gui_log "no screenshot could be taken"
  fi
}

gui_fail() {
  echo "FAIL [$GUI_TEST_NAME]: $*" >&2
  gui_screenshot "fail-$_gui_shots"
  exit 1
}

# The wineserver of our prefix and Wine's services, started so that they hold no
# output of ours: a service started by a driver run inside $(...) would keep
# that capture open long after the driver has ended.
_gui_restart_wineserver() {
  (setsid wineserver -p60 </dev/null >/dev/null 2>&1 &)
  timeout 60 wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

_gui_session() {
  if [ -n "${WINEPREFIX:-}" ] && [ -n "${DISPLAY:-}" ] && [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ]; then
    return
  fi
  gui_log "no Wine session (WINEPREFIX/DISPLAY): starting one for this test"
  # shellcheck source=../../../scripts/wine-session.sh
  source "$_gui_here/../../../scripts/wine-session.sh"
  wine_session_start "$GUI_BUILD_DIR" || { echo "FAIL [$GUI_TEST_NAME]: cannot start a Wine session" >&2; exit 1; }
  _gui_own_session=1
}

# Wine's services must already run, detached, before the first captured driver run.
_gui_warm_up() {
  timeout 60 wine cmd.exe /c exit </dev/null >/dev/null 2>&1
}

# Ends what this script started: its programs by PID (TERM, then KILL), then the
# wineserver of the prefix (which takes Wine's helper processes with it).
gui_cleanup() {
  local pid i alive=0
  for pid in "${GUI_PIDS[@]}"; do
    kill -0 "$pid" 2>/dev/null || continue
    alive=1
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 1 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  GUI_PIDS=()
  rm -f "$_gui_pid_file"
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1
    timeout 20 wineserver -w >/dev/null 2>&1
    [ $_gui_own_session -eq 1 ] || _gui_restart_wineserver
  fi
  if [ $_gui_own_session -eq 1 ]; then
    wine_session_stop
    _gui_own_session=0
  fi
  return $alive
}

_gui_on_exit() {
  local rc=$?
  trap - EXIT INT TERM
  gui_cleanup >/dev/null 2>&1
  exit $rc
}

# A test killed outright (ctest's timeout) cannot clean up; the programs it
# started are listed in a file, and the next test ends those still running in
# this prefix before it begins.
_gui_reap_stale() {
  local f pid
  for f in "$GUI_BUILD_DIR"/gui-work/.pids-*; do
    [ -f "$f" ] || continue
    while read -r pid; do
      [ -n "$pid" ] && [ -r "/proc/$pid/environ" ] || continue
      if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
        gui_log "ending pid $pid left running by an earlier test ($f)"
        kill -KILL "$pid" 2>/dev/null
      fi
    done <"$f"
    rm -f "$f"
  done
}

# Windows path of a Linux path: Z: is the root of the Linux file system in a
# default prefix, so no Wine start is needed; otherwise winepath.
gui_winpath() {
  local p
  p=$(realpath -m "$1")
  if [ "$(readlink "$WINEPREFIX/dosdevices/z:" 2>/dev/null)" = "/" ]; then
    printf 'Z:%s\n' "${p//\//\\}"
  else
    wine winepath -w "$p" 2>/dev/null
  fi
}

# A fresh folder for this test's files: $GUI_WORK (emptied at start).
# gui_file NAME [CONTENT]: writes a file there (CONTENT or stdin) and prints its path.
gui_file() {
  local path="$GUI_WORK/$1"
  mkdir -p "$(dirname "$path")"
  if [ $# -ge 2 ]; then printf '%s' "$2" >"$path"; else cat >"$path"; fi
  echo "$path"
}

# gui_copy_program EXE [DIR]: copies a program into DIR (default $GUI_WORK/bin) so
# that files beside it (INI files, tools) belong to this test; prints the new path.
gui_copy_program() {
  local dir=${2:-$GUI_WORK/bin}
  mkdir -p "$dir"
  cp "$1" "$dir/" || gui_fail "cannot copy $1"
  echo "$dir/$(basename "$1")"
}

# gui_start NAME EXE [--cwd DIR] [--env K=V]... [-- ARGS...]
# Starts a Windows program under Wine in the background. Its PID is in
# GUI_PID_<NAME>, its output in $GUI_WORK/NAME.log.
gui_start() {
  local name=$1 exe=$2 cwd=$GUI_WORK
  shift 2
  local envs=() args=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --cwd) cwd=$2; shift 2 ;;
      --env) envs+=("$2"); shift 2 ;;
      --) shift; args=("$@"); break ;;
      *) gui_fail "gui_start: unknown option $1" ;;
    esac
  done
  [ -f "$exe" ] || gui_fail "gui_start: no program $exe"
  (cd "$cwd" && exec env "${envs[@]}" wine "$exe" "${args[@]}" </dev/null >"$GUI_WORK/$name.log" 2>&1) &
  local pid=$!
  GUI_PIDS+=("$pid")
  echo "$pid" >>"$_gui_pid_file"
  printf -v "GUI_PID_$name" '%s' "$pid"
  gui_log "started $name (pid $pid): $exe"
}

# gui_wait_exit NAME [SECONDS]: waits until the program ends; its exit status is
# then in GUI_EXIT_CODE. Fails the test when it is still running at the end.
gui_wait_exit() {
  local name=$1 secs=${2:-$GUI_TIMEOUT} var="GUI_PID_$1" pid i
  pid=${!var:-}
  [ -n "$pid" ] || gui_fail "gui_wait_exit: $name was not started"
  for i in $(seq 1 $((secs * 10))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    gui_fail "$name (pid $pid) is still running after $secs s"
  fi
  wait "$pid" 2>/dev/null
  GUI_EXIT_CODE=$?
}

# gui_running NAME: true while the program runs.
gui_running() {
  local var="GUI_PID_$1"
  [ -n "${!var:-}" ] && kill -0 "${!var}" 2>/dev/null
}

# gui_driver ARGS...: one guidriver command; prints its output; returns its status
# (the driver has already printed the reason and saved a screenshot on failure).
gui_driver() {
  GUIDRIVER_TIMEOUT=$GUI_TIMEOUT timeout -k 5 $((GUI_TIMEOUT * 4 + 30)) \
    wine "$GUIDRIVER" --shot-dir "$SCREENSHOT_DIR" --shot-prefix "$GUI_TEST_NAME-" "$@" </dev/null
}

# gui_do ARGS...: like gui_driver, but a failure fails the test.
gui_do() {
  gui_driver "$@" || _gui_driver_failed $? "guidriver $*"
}

# gui_script [NAME] <<'EOF' ... EOF: runs a file of driver commands in one Wine
# process (much faster than one start per command). Output goes to stdout and to
# $GUI_WORK/NAME.out; the first failing line fails the test.
gui_script() {
  local name=${1:-script$((++_gui_script_count))}
  local file="$GUI_WORK/$name.gd"
  cat >"$file"
  GUIDRIVER_TIMEOUT=$GUI_TIMEOUT timeout -k 5 $((GUI_TIMEOUT * 20 + 60)) \
    wine "$GUIDRIVER" --shot-dir "$SCREENSHOT_DIR" --shot-prefix "$GUI_TEST_NAME-" run "$file" </dev/null \
    | tee "$GUI_WORK/$name.out"
  local rc=${PIPESTATUS[0]}
  [ "$rc" -eq 0 ] || _gui_driver_failed "$rc" "driver script $file"
}
_gui_script_count=0

_gui_driver_failed() {
  local rc=$1
  shift
  echo "FAIL [$GUI_TEST_NAME]: $1 (status $rc; reason above, screenshots in $SCREENSHOT_DIR)" >&2
  local var
  for var in "${!GUI_PID_@}"; do
    if [ -s "$GUI_WORK/${var#GUI_PID_}.log" ]; then
      echo "--- output of ${var#GUI_PID_}:" >&2
      tail -n 20 "$GUI_WORK/${var#GUI_PID_}.log" >&2
    fi
  done
  exit 1
}

# gui_expect_grep PATTERN FILE-OR-TEXT...: fails unless the driver output matches.
gui_expect_grep() {
  local pattern=$1 text=$2
  grep -qE -- "$pattern" <<<"$text" || gui_fail "expected output matching /$pattern/, got:
$text"
}

# ---------------------------------------------------------------- set-up
[ -n "${GUIDRIVER:-}" ] || { echo "FAIL [$GUI_TEST_NAME]: GUIDRIVER is not set (run through ctest)" >&2; exit 1; }
[ -f "$GUIDRIVER" ] || { echo "FAIL [$GUI_TEST_NAME]: no driver at $GUIDRIVER" >&2; exit 1; }
GUIDRIVER=$(realpath "$GUIDRIVER")
GUI_BUILD_DIR=${GUI_BUILD_DIR:-$(dirname "$(dirname "$(dirname "$GUIDRIVER")")")}
SCREENSHOT_DIR=${SCREENSHOT_DIR:-$GUI_BUILD_DIR/screenshots}
GUI_WORK=$GUI_BUILD_DIR/gui-work/$GUI_TEST_NAME
mkdir -p "$SCREENSHOT_DIR"
rm -f "$SCREENSHOT_DIR/$GUI_TEST_NAME"-*.png
rm -rf "$GUI_WORK"
mkdir -p "$GUI_WORK"
_gui_pid_file=$GUI_BUILD_DIR/gui-work/.pids-$GUI_TEST_NAME
trap _gui_on_exit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
_gui_session
_gui_reap_stale
_gui_warm_up
