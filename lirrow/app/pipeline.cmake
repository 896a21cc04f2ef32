# The converter's tool runner and conversion pipeline.
set(_pipeline ${CMAKE_CURRENT_LIST_DIR})

if(TARGET lirrow_convert)
  # Portable: the pipeline's steps, the spinner, and the binding of the
  # converter library to the pipeline's RecordingFiles.
  add_library(lirrow_pipeline STATIC
    ${_pipeline}/pipeline.cpp
    ${_pipeline}/tool_spinner.cpp
    ${_pipeline}/recording_files.cpp
  )
  target_include_directories(lirrow_pipeline PUBLIC ${_pipeline})
  target_link_libraries(lirrow_pipeline PUBLIC lirrow_app lirrow_convert)

  if(WIN32)
    # Win32: tool processes, the two progress windows, the system error text.
    add_library(lirrow_pipeline_win32 STATIC
      ${_pipeline}/tool_runner_win32.cpp
      ${_pipeline}/pipeline_win32.cpp
    )
    target_link_libraries(lirrow_pipeline_win32 PUBLIC lirrow_pipeline)
  endif()
endif()
