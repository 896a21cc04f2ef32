# Shared steps of the converter's end-to-end tests. Sourced after the harness.
#
#   q TEXT                 TEXT for a quoted driver word (backslashes doubled)
#   open_file PATH [I]     Open in the main window (caption $main), PATH chosen
#                          in the system's file dialog (filter I)

# The driver reads backslashes in quoted words as escapes: double them.
q() { printf '%s' "${1//\\/\\\\}"; }

# open_file PATH [FILTER-INDEX]: Open in the main window (caption $main),
# choose PATH in the file dialog.
open_file() {
  local filter=""
  [ -n "${2:-}" ] && filter="select --window Open --class \"#32770\" --id 1136 --index $2"
  local name=${1##*\\}
  gui_script "open-${name//./-}" <<GD
click --window "$(q "$main")" --id 1536
wait --window Open --class "#32770"
$filter
type --window Open --class "#32770" --id 1148 --ctl-class Edit "$(q "$1")"
click --window Open --class "#32770" --id 1 --ctl-class Button
wait-gone --window Open --class "#32770"
GD
}

