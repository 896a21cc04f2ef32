# The formatter's start-up, texts and fmt.ini reading (portable), and their
# Win32 binding.
add_library(vornak_startup STATIC
  ${CMAKE_CURRENT_LIST_DIR}/startup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/texts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ini_reader.cpp)
target_include_directories(vornak_startup PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(vornak_startup PUBLIC vornak_disk)

if(WIN32)
  add_library(vornak_startup_win32 STATIC ${CMAKE_CURRENT_LIST_DIR}/startup_platform_win32.cpp)
  target_link_libraries(vornak_startup_win32 PUBLIC vornak_startup)
endif()
