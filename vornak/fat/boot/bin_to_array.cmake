# Turns the assembled boot sector (INPUT) into a C array initialiser (OUTPUT).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
if(NOT length EQUAL 1024)
  message(FATAL_ERROR "${INPUT}: the boot sector must be 512 bytes")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated from boot.asm; do not edit.\n${bytes}\n")
