# The converter application: start-up, texts, main dialog, player, help.
set(_app ${CMAKE_CURRENT_LIST_DIR})

# Portable logic: texts, start-up state, the dialog's handlers, player clock.
add_library(lirrow_app STATIC
  ${_app}/text_table.cpp
  ${_app}/converter_app.cpp
  ${_app}/converter_dialog.cpp
  ${_app}/player_clock.cpp
)
target_include_directories(lirrow_app PUBLIC ${_app} ${_app}/../res)
target_link_libraries(lirrow_app PUBLIC lirrow_convert)
if(WIN32)
  target_sources(lirrow_app PRIVATE ${_app}/file_exists_win32.cpp ${_app}/unicode_win32.cpp)
  target_compile_definitions(lirrow_app PUBLIC UNICODE _UNICODE)
  # The Windows 9x branch forced by the environment: test tree only.
  if(BUILD_TESTING)
    target_compile_definitions(lirrow_app PRIVATE LIRROW_TEST_SWITCHES)
  endif()
else()
  target_sources(lirrow_app PRIVATE ${_app}/file_exists_posix.cpp)
endif()

if(WIN32 AND TARGET lirrow_pipeline_win32)
  # The Win32 side: dialog windows, player control, About box.
  add_library(lirrow_app_win32 STATIC
    ${_app}/converter_dialog_win32.cpp
    ${_app}/about_dialog_win32.cpp
    ${_app}/player_win32.cpp
    ${_app}/conversion_binding_win32.cpp
    ${_app}/text_source_win32.cpp
  )
  target_link_libraries(lirrow_app_win32 PUBLIC lirrow_app lirrow_pipeline_win32 comctl32 comdlg32 shell32 winmm)

  add_executable(lirrow WIN32 ${_app}/converter_app_win32.cpp ${_app}/../res/lirrow.rc)
  target_link_libraries(lirrow PRIVATE lirrow_app_win32)
  set_source_files_properties(${_app}/../res/lirrow.rc PROPERTIES
    OBJECT_DEPENDS "${_app}/../res/resource.h;${_app}/../res/lirrow.manifest")
  target_link_options(lirrow PRIVATE -static -static-libgcc -static-libstdc++)
  set_target_properties(lirrow PROPERTIES OUTPUT_NAME lirrow)
  # The help pages are looked for in the start folder; the build folder of
  # the program is where it is run from during development and tests.
  foreach(page helpen.htm helpch.htm helpfan.htm)
    add_custom_command(TARGET lirrow POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_app}/../res/${page} $<TARGET_FILE_DIR:lirrow>/${page})
  endforeach()
endif()
