# The converter application: start-up, texts, main dialog, player, help.
set(_app ${CMAKE_CURRENT_LIST_DIR})

add_library(lirrow_app STATIC
  ${_app}/text_table.cpp
  ${_app}/converter_app.cpp
)
target_include_directories(lirrow_app PUBLIC ${_app} ${_app}/../res)
if(WIN32)
  target_sources(lirrow_app PRIVATE ${_app}/file_exists_win32.cpp)
  target_compile_definitions(lirrow_app PUBLIC UNICODE _UNICODE)
else()
  target_sources(lirrow_app PRIVATE ${_app}/file_exists_posix.cpp)
endif()
