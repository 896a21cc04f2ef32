# The main dialog's state and handlers, the format run, the system format
# command, the start-up files and the results report (portable, tested
# natively), their Win32 binding, and the program vornak.exe.
add_library(vornak_dialog STATIC ${CMAKE_CURRENT_LIST_DIR}/formatter_dialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/format_run.cpp)
target_include_directories(vornak_dialog PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vornak_dialog PUBLIC vornak_startup vornak_fat vornak_disk)

if(WIN32)
  add_library(vornak_dialog_win32 STATIC
    ${CMAKE_CURRENT_LIST_DIR}/dialog_platform_win32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/formatter_window_win32.cpp)
  target_link_libraries(vornak_dialog_win32 PUBLIC vornak_dialog vornak_startup_win32
                        vornak_disk_win32 shell32)

  add_executable(vornak WIN32
    ${CMAKE_CURRENT_LIST_DIR}/main_win32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/runtime_imports_win32.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../res/vornak.rc)
  target_link_libraries(vornak PRIVATE vornak_dialog_win32)
  # The image-backed test drives exist in the test tree's vornak.exe only.
  if(BUILD_TESTING)
    target_link_libraries(vornak PRIVATE vornak_test_drives_win32)
    target_compile_definitions(vornak PRIVATE VORNAK_TEST_DRIVES_BINDING)
  endif()
  target_link_options(vornak PRIVATE -static -static-libgcc -static-libstdc++)
  file(GLOB _vornak_icons ${CMAKE_CURRENT_LIST_DIR}/../res/icons/*.ico)
  set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/../res/vornak.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/../res/resource.h;${CMAKE_CURRENT_LIST_DIR}/../res/vornak.manifest;${_vornak_icons}")
endif()
