// printf-style formatting into a std::string (platform-free).
#ifndef RAVEN_APPKIT_STRINGS_H
#define RAVEN_APPKIT_STRINGS_H

#include <string>

std::string StrFormat(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

#endif
