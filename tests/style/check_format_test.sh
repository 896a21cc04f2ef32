#!/usr/bin/env bash
# The tree passes scripts/check-format.sh; a copy of a tree file with one line
# indented differently fails it, and the failure names that file; the copy as
# it was passes.
set -euo pipefail
root=$1
check=$root/scripts/check-format.sh
fail() { echo "FAIL: $*" >&2; exit 1; }

"$check" || fail "the tree is not formatted"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root/.clang-format" "$work/"
src=$root/vornak/fat/fat_layout.cpp
cp "$src" "$work/good.cpp"
"$check" "$work/good.cpp" >/dev/null || fail "an unchanged copy of $src is refused"

# Indent the first indented line by two more spaces.
awk 'BEGIN{done=0} { if (!done && $0 ~ /^  [^ ]/) { print "  " $0; done=1 } else print }' \
  "$src" >"$work/moved.cpp"
cmp -s "$src" "$work/moved.cpp" && fail "the test could not change the indentation"
if out=$("$check" "$work/good.cpp" "$work/moved.cpp" 2>&1); then
  fail "a file with changed indentation passed"
fi
grep -q "moved.cpp" <<<"$out" || fail "the failure does not name the file: $out"
grep -q "good.cpp" <<<"$out" && fail "the failure names a formatted file: $out"
echo "check-format: tree clean, changed indentation refused"
