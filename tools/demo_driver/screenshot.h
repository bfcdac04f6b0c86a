// Pictures of windows for the demo's walk through the wizard and the tests'
// record of the wizard at other DPI settings.
#ifndef RAVEN_TOOLS_DEMO_DRIVER_SCREENSHOT_H
#define RAVEN_TOOLS_DEMO_DRIVER_SCREENSHOT_H

#include <windows.h>

#include <string>

// The window (the whole screen when null) as a 24-bit BMP file.
bool Screenshot(const std::string& bmpPath, HWND window = nullptr);

#endif
