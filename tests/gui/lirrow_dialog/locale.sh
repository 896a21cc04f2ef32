# A Simplified and a Traditional Chinese system default language give the
# built-in Chinese texts (no INI file beside the program).
#
# Wine takes the system default language of a process from the Unix locale
# it starts in (LC_ALL), provided that locale exists; the test compiles the
# two locales once into the build tree (LOCPATH) so that nothing needs to be
# installed. Only lirrow.exe runs in them; the prefix is not changed.
source "${GUI_HARNESS:?run this test through ctest}"

bin=$GUI_WORK/bin
exe=$(gui_copy_program "$GUI_PROGRAM_lirrow")
locales=$GUI_BUILD_DIR/lirrow-test-locales
mkdir -p "$locales"
for l in zh_CN zh_TW; do
  [ -f "$locales/$l.UTF-8/LC_CTYPE" ] || localedef -i "$l" -f UTF-8 "$locales/$l.UTF-8" 2>/dev/null
  [ -f "$locales/$l.UTF-8/LC_CTYPE" ] || gui_fail "cannot compile the locale $l.UTF-8 (localedef, locale sources)"
done

# A recording for Start: no decoders lie beside the program, so Start shows
# the missing-decoder box. The driver reads backslashes in quoted words as
# escapes: they are doubled.
rec=$(gui_winpath "$(gui_file memo.rec "$(printf '\005xyz')")")
rec=${rec//\\/\\\\}
winbin=$(gui_winpath "$bin")
winbin=${winbin//\\/\\\\}

# ---- Simplified Chinese (0x0804) ------------------------------------------
gui_start zhcn "$exe" --cwd "$bin" --env "LOCPATH=$locales" --env LC_ALL=zh_CN.UTF-8
gui_script zhcn <<'GD'
wait --window "Lirrow工具2.0"
check --window "Lirrow工具2.0" --id 1536 --text-is "打开"
check --window "Lirrow工具2.0" --id 1540 --text-is "转换" --enabled 0
check --window "Lirrow工具2.0" --id 1031 --text-is "帮助"
check --window "Lirrow工具2.0" --id 1541 --text-is "退出"
check --window "Lirrow工具2.0" --id 1537 --text-is "输出 .WAV文件"
syscmd --window "Lirrow工具2.0" 16
wait --window "关于Lirrow工具"
check --window "关于Lirrow工具" --id 1014 --text-is "Lirrow工具 2.0"
check --window "关于Lirrow工具" --id 1 --text-is "确定"
click --window "关于Lirrow工具" --id 1
wait-gone --window "关于Lirrow工具"
GD
# The text says the file was not found in the folder: the folder comes first.
gui_script zhcn-missing <<GD
type --window "Lirrow工具2.0" --id 1539 "$rec"
click --window "Lirrow工具2.0" --id 1540
msgbox --caption Lirrow --exe lirrow.exe --expect-text "QL8_DEC.exe\\n${winbin}目录中没有找到上面的文件!" --expect-icon exclamation --answer 1
GD
gui_screenshot zh-cn
gui_do click --window "Lirrow工具2.0" --id 1541
gui_wait_exit zhcn 20

# ---- Traditional Chinese (0x0404): leading and trailing blanks kept -------
gui_start zhtw "$exe" --cwd "$bin" --env "LOCPATH=$locales" --env LC_ALL=zh_TW.UTF-8
gui_script zhtw <<'GD'
wait --window "Lirrow工具2.0"
check --window "Lirrow工具2.0" --id 1536 --text-is " 打開"
check --window "Lirrow工具2.0" --id 1540 --text-is "轉換"
check --window "Lirrow工具2.0" --id 1031 --text-is " 幫助"
check --window "Lirrow工具2.0" --id 1541 --text-is " 退出"
syscmd --window "Lirrow工具2.0" 16
wait --window "關於Lirrow工具 "
check --window "關於Lirrow工具 " --id 1 --text-is "確定"
click --window "關於Lirrow工具 " --id 1
wait-gone --window "關於Lirrow工具 "
GD
# The text asks to copy the file to the folder below: the folder follows it.
gui_script zhtw-missing <<GD
type --window "Lirrow工具2.0" --id 1539 "$rec"
click --window "Lirrow工具2.0" --id 1540
msgbox --caption Lirrow --exe lirrow.exe --expect-text "QL8_DEC.exe\\n沒有找到上面的文件，請考貝到下列目錄.\\n${winbin}" --expect-icon exclamation --answer 1
click --window "Lirrow工具2.0" --id 1541
GD
gui_wait_exit zhtw 20
gui_log "passed"
