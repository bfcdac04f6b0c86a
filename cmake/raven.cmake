# Shared CMake helpers.

# A Windows program that drives the bootstrapper's window from outside with
# the end-to-end tests' helpers (windows, clicks, screenshots), without the
# test framework: the demo's driver and the start-up benchmark.
function(raven_window_driver name)
  add_executable(${name} ${ARGN} ${CMAKE_SOURCE_DIR}/tests/win/support/e2e.cpp)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
  target_compile_definitions(${name} PRIVATE RAVEN_BUILD_DIR="${CMAKE_BINARY_DIR}/.."
                             RAVEN_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             RAVEN_WIN_TREE="${RAVEN_WIN_TREE}")
  target_compile_options(${name} PRIVATE ${RAVEN_WARNINGS})
  target_link_libraries(${name} PRIVATE user32 gdi32 advapi32 shell32 shlwapi)
endfunction()
