#!/usr/bin/env bash
# The Linux front ends as a user installs them: `cmake --install` into a
# throw-away prefix holds exactly the programs, manual pages, completions and
# README; each manual page renders without warnings and names every option
# its program's --help names, and no other; the .deb of scripts/make-deb.sh
# unpacks into a throw-away root whose programs answer --version and --help,
# declares its dependencies and passes lintian; the completions offer the
# commands, options and files of the right kinds.
# Usage: linux_install_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1
build=$2
source "$(dirname "$0")/../support/script_test.sh"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "FAIL: no project version in $build/CMakeCache.txt"; exit 1; }

# 1. cmake --install: exactly these files.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install failed"
expected="bin/lirrow-cli
bin/vornak-cli
share/bash-completion/completions/lirrow-cli
share/bash-completion/completions/vornak-cli
share/doc/vornak-lirrow/README.lirrow-cli.md
share/doc/vornak-lirrow/README.vornak-cli.md
share/man/man1/lirrow-cli.1
share/man/man1/vornak-cli.1"
got=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$got" = "$expected" ] || fail "the installed tree holds other files than the listed ones:
$(diff <(echo "$expected") <(echo "$got"))"

# 2. The manual pages against the programs' own --help.
help_options() {  # every --option that PROGRAM's help texts name
  local program=$1 commands
  commands=$("$program" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && NF {print $1}')
  { "$program" --help
    for c in $commands; do
      case $c in version | help) ;; *) "$program" "$c" --help ;; esac
    done; } | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u
}
for program in vornak-cli lirrow-cli; do
  page=$prefix/share/man/man1/$program.1
  warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$program.1 renders with warnings: $warnings"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $program.1 warns: $warnings"
  grep -q "$version" "$page" || fail "$program.1 does not carry the version $version"
  text=$(LC_ALL=C groff -man -Tascii -rLL=250n -rHY=0 -P-c -P-b -P-u "$page" 2>/dev/null)
  in_page=$(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$text" | sort -u)
  in_help=$(help_options "$prefix/bin/$program")
  [ -n "$in_help" ] || fail "$program --help names no option"
  missing=$(comm -23 <(echo "$in_help") <(echo "$in_page"))
  [ -z "$missing" ] || fail "$program.1 lacks options its --help names: $missing"
  extra=$(comm -13 <(echo "$in_help") <(echo "$in_page"))
  [ -z "$extra" ] || fail "$program.1 names options its --help does not: $extra"
  for section in SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES; do
    grep -q "^$section" <<<"$text" || fail "$program.1 has no $section section"
  done
done

# 3. The .deb, unpacked into a throw-away root.
deb=$(bash "$src/scripts/make-deb.sh" "$build" "$work/deb") || fail "make-deb.sh failed"
if [ -f "$deb" ]; then
  info=$(dpkg-deb --info "$deb")
  field() { sed -n "s/^ $1: //p" <<<"$info"; }
  [ "$(field Package)" = vornak-lirrow ] || fail "package name: $(field Package)"
  [ "$(field Version)" = "$version" ] || fail "package version $(field Version), not $version"
  grep -qE '(^|, )libc6 \(>= [0-9.]+\)' <<<"$(field Depends)" || fail "no libc6 dependency: $(field Depends)"
  grep -qE '(^|, )mtools($|,)' <<<"$(field Depends)" || fail "mtools is not a dependency: $(field Depends)"
  [ "$(field Suggests)" = "lame, wine" ] || fail "suggestions: $(field Suggests)"
  root=$work/root
  dpkg -x "$deb" "$root" || fail "dpkg -x failed"
  listed=$(cd "$root" && find . -type f | sed 's|^\./||' | sort)
  want="usr/bin/lirrow-cli
usr/bin/vornak-cli
usr/share/bash-completion/completions/lirrow-cli
usr/share/bash-completion/completions/vornak-cli
usr/share/doc/vornak-lirrow/README.lirrow-cli.md
usr/share/doc/vornak-lirrow/README.vornak-cli.md
usr/share/doc/vornak-lirrow/changelog.gz
usr/share/doc/vornak-lirrow/copyright
usr/share/man/man1/lirrow-cli.1.gz
usr/share/man/man1/vornak-cli.1.gz"
  [ "$listed" = "$want" ] || fail "the package holds other files: $(diff <(echo "$want") <(echo "$listed"))"
  for program in vornak-cli lirrow-cli; do
    out=$("$root/usr/bin/$program" --version) || fail "$program --version exits with $?"
    [ "$out" = "$program $version" ] || fail "$program --version says '$out'"
    [ "$("$root/usr/bin/$program" version)" = "$program $version" ] || fail "$program version differs from --version"
    "$root/usr/bin/$program" --help | grep -q "^Usage: $program" || fail "$program --help from the package"
    file "$root/usr/bin/$program" | grep -q ', stripped' || fail "$program is not stripped"
  done
  if command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 ||
      fail "lintian finds errors: $(cat "$work/lintian")"
    report=$(cat "$work/lintian")
    grep '^W:' <<<"$report" | sed 's/^/lintian warning: /'
  fi
fi

# The front ends carry the version of the Windows programs' resources.
exe=$src/build/release/vornak/app/vornak.exe
if [ -f "$exe" ]; then
  pe=$(PYTHONDONTWRITEBYTECODE=1 python3 -c 'import sys; sys.path.insert(0, sys.argv[1])
from pe import PeImage
print(PeImage(sys.argv[2]).file_version() or "")' "$src/tests/imports" "$exe")
  [ "$pe" = "$version" ] || fail "vornak.exe is version '$pe', the front ends $version"
fi

# 4. Completion, through bash-completion's own helpers.
complete_words() {  # complete_words DIR WORD... : what TAB offers after the words, in DIR
  local dir=$1
  shift
  (cd "$dir" && bash --norc --noprofile -c '
    source /usr/share/bash-completion/bash_completion
    source "$0"
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
    function=$(complete -p "$1" | sed "s/.*-F \([^ ]*\) .*/\1/")
    "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' "$prefix/share/bash-completion/completions/$1" "$@")
}
if [ -r /usr/share/bash-completion/bash_completion ]; then
  files=$work/files
  mkdir -p "$files/sub"
  touch "$files/MEMO1.REC" "$files/memo2.ovk" "$files/notes.txt" "$files/a.wav" "$files/b.mp3"
  [ "$(complete_words "$files" vornak-cli '')" = "$(printf '%s\n' --help --version format help list probe version)" ] ||
    fail "vornak-cli commands: $(complete_words "$files" vornak-cli '')"
  [ "$(complete_words "$files" vornak-cli probe --re)" = --restore ] ||
    fail "vornak-cli probe --re: $(complete_words "$files" vornak-cli probe --re)"
  [ "$(complete_words "$files" vornak-cli format --mode '')" = "$(printf '%s\n' full low quick)" ] ||
    fail "vornak-cli --mode values: $(complete_words "$files" vornak-cli format --mode '')"
  [ "$(complete_words "$files" vornak-cli format --bo)" = --bootable ] ||
    fail "vornak-cli --bo: $(complete_words "$files" vornak-cli format --bo)"
  [ "$(complete_words "$files" lirrow-cli convert '')" = "$(printf '%s\n' MEMO1.REC memo2.ovk sub)" ] ||
    fail "lirrow-cli convert offers: $(complete_words "$files" lirrow-cli convert '')"
  [ "$(complete_words "$files" lirrow-cli duration '')" = "$(printf '%s\n' a.wav b.mp3 sub)" ] ||
    fail "lirrow-cli duration offers: $(complete_words "$files" lirrow-cli duration '')"
  [ "$(complete_words "$files" lirrow-cli convert x.rec --encoder '')" = "$(printf '%s\n' lame sqenc)" ] ||
    fail "lirrow-cli --encoder values: $(complete_words "$files" lirrow-cli convert x.rec --encoder '')"
fi

finish "linux install" "the installed tree, the manual pages, the .deb and the completions are as listed"
