# Product toolchain: the win32 thread model, so the exe never imports
# winpthreads (which needs Vista's GetTickCount64) and loads on Windows 2000.
set(RAVEN_MINGW_PROCESSOR i686)
set(RAVEN_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
