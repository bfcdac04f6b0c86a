// The framework's entry point. It lives in its own object so that test
// programs, which bring their own main, never pull it in.
#include "appkit/app.h"
#include "appkit/system_library.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int cmdShow) {
  // Before anything can load a DLL on our behalf.
  EnterSystemFolder();
  NarrowDllSearchPath();
  return AfxWinMain(instance, cmdLine, cmdShow);
}
