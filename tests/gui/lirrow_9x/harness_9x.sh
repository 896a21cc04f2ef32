# The GUI harness for the "_9x" twins of lirrow's end-to-end tests: the same
# scripts, run with lirrow's Windows 95/98/ME branch forced and the stand-in
# Layer for Unicode beside lirrow.exe. Sourced in place of lib.sh (the twin's
# GUI_HARNESS); the scripts run unchanged.
#
#   - every lirrow.exe a script copies gets the stand-in unicows.dll beside it;
#   - every lirrow.exe a script starts runs with LIRROW_TEST_WINDOWS_9X=1, the
#     stand-in's log $GUI_WORK/unicows.log, and Wine told to load the
#     unicows.dll it finds (Wine has one of its own that it prefers otherwise);
#   - a lirrow.exe the script waits for must end with code 0, as it does at
#     every end the scripts reach in the normal run;
#   - when the script has passed, the log must show that the calls arrived
#     through the stand-in: each function of LIRROW_9X_CALLS (comma-separated)
#     at least once.
#
# Environment: GUI_LIB (the plain lib.sh), GUI_PROGRAM_standin_unicows,
# LIRROW_9X_CALLS, and what lib.sh needs.

source "${GUI_LIB:?run this test through ctest}"

[ -f "${GUI_PROGRAM_standin_unicows:-}" ] || gui_fail "no stand-in unicows.dll (GUI_PROGRAM_standin_unicows)"
LIRROW_9X_LOG=$GUI_WORK/unicows.log
rm -f "$LIRROW_9X_LOG"

# The harness's own functions under other names, so that ours can call them.
eval "_gui_copy_program_plain() $(declare -f gui_copy_program | tail -n +2)"
eval "_gui_start_plain() $(declare -f gui_start | tail -n +2)"
eval "_gui_on_exit_plain() $(declare -f _gui_on_exit | tail -n +2)"
eval "_gui_wait_exit_plain() $(declare -f gui_wait_exit | tail -n +2)"
_lirrow_9x_names=" "

_is_lirrow() { [ "$(basename "${1,,}")" = lirrow.exe ]; }

gui_copy_program() {
  local copied
  copied=$(_gui_copy_program_plain "$@") || exit 1
  if _is_lirrow "$copied"; then
    cp "$GUI_PROGRAM_standin_unicows" "$(dirname "$copied")/unicows.dll" ||
      gui_fail "cannot copy the stand-in unicows.dll beside $copied"
  fi
  echo "$copied"
}

gui_start() {
  if _is_lirrow "$2"; then
    [ -f "$(dirname "$2")/unicows.dll" ] || gui_fail "no unicows.dll beside $2"
    _lirrow_9x_names+="$1 "
    _gui_start_plain "$1" "$2" --env LIRROW_TEST_WINDOWS_9X=1 \
      --env "UNICOWS_STANDIN_LOG=$(gui_winpath "$LIRROW_9X_LOG")" \
      --env "WINEDLLOVERRIDES=${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}unicows=n" "${@:3}"
  else
    _gui_start_plain "$@"
  fi
}

gui_wait_exit() {
  _gui_wait_exit_plain "$@"
  if [[ "$_lirrow_9x_names" == *" $1 "* ]] && [ "$GUI_EXIT_CODE" != 0 ]; then
    gui_fail "lirrow.exe ($1) ended with code $GUI_EXIT_CODE in the 9x branch, not 0"
  fi
}

# The calls the scenario must have made through the stand-in; prints what is
# missing and what arrived when any is not there.
lirrow_9x_check_calls() {
  [ -s "$LIRROW_9X_LOG" ] || { echo "no call arrived through unicows.dll (no $LIRROW_9X_LOG)"; return 1; }
  local missing=() wanted=() name
  IFS=, read -r -a wanted <<<"${LIRROW_9X_CALLS:-}"
  for name in "${wanted[@]}"; do
    [ -n "$name" ] || continue
    grep -qxF "$name" "$LIRROW_9X_LOG" || missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "not through unicows.dll: ${missing[*]}; arrived: $(sort "$LIRROW_9X_LOG" | uniq -c | awk '{printf "%s %s, ", $2, $1}')"
  return 1
}

_gui_on_exit() {
  local rc=$? why
  if [ $rc -eq 0 ]; then
    if why=$(lirrow_9x_check_calls); then
      echo "9x branch: $(sort -u "$LIRROW_9X_LOG" | wc -l) functions, $(wc -l <"$LIRROW_9X_LOG") calls through the stand-in unicows.dll"
    else
      echo "FAIL [$GUI_TEST_NAME]: $why" >&2
      rc=1
    fi
  fi
  (exit $rc)
  _gui_on_exit_plain
}
