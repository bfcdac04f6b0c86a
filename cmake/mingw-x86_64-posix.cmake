# The Windows tests for x86-64 (posix thread model, as for i686).
set(RAVEN_MINGW_PROCESSOR x86_64)
set(RAVEN_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
