# Sourced by the shell tests: fail() counts a failure and says it, $work is a
# private folder removed at exit, and finish NAME MESSAGE ends the test,
# with 1 when anything failed.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
finish() {
  if [ $failures -gt 0 ]; then
    echo "$1: $failures failures" >&2
    exit 1
  fi
  echo "$1: $2"
}
