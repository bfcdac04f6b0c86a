# Test toolchain: GoogleTest needs std::mutex, which the win32 thread model
# of GCC 12 lacks. Only test programs are built with it, never the product.
set(RAVEN_MINGW_PROCESSOR i686)
set(RAVEN_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
