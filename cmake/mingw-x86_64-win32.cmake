# The product's sources for x86-64, to run the tests and the demo under
# wine64 on machines that run no 32-bit code. Never shipped.
set(RAVEN_MINGW_PROCESSOR x86_64)
set(RAVEN_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
