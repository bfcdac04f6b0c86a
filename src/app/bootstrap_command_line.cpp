#include "app/bootstrap_command_line.h"

#include <cstring>

const char kImpersonatedMarker[] = "/impersonated";

namespace {

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case folding of ASCII letters only. The word compared against is plain
// ASCII, and in the multi-byte code pages lead bytes lie above 0x7F, so no
// multi-byte character can fold onto one of its letters: this gives the
// same answer as a code-page-aware comparison.
bool EqualsIgnoringAsciiCase(const char* text, const char* word) {
  for (; *text != '\0' && *word != '\0'; ++text, ++word) {
    if (AsciiLower(*text) != AsciiLower(*word)) return false;
  }
  return *text == '\0' && *word == '\0';
}

}  // namespace

void CBootStrapCommandLineInfo::ParseParam(const char* param, bool isSwitch,
                                           bool /*isLast*/) {
  if (!isSwitch || param == nullptr) return;
  // The relaunch appends its marker without a blank: a last switch reaches
  // the elevated copy as "/quiet/impersonated", and must still count.
  std::string word = param;
  const size_t markerSize = std::strlen(kImpersonatedMarker);
  if (word.size() > markerSize &&
      word.compare(word.size() - markerSize, markerSize, kImpersonatedMarker) == 0)
    word.resize(word.size() - markerSize);
  param = word.c_str();
  if (EqualsIgnoringAsciiCase(param, "update")) update = 1;
  if (EqualsIgnoringAsciiCase(param, "quiet") || EqualsIgnoringAsciiCase(param, "q")) quiet = 1;
  if (EqualsIgnoringAsciiCase(param, "help") || EqualsIgnoringAsciiCase(param, "?")) help = 1;
}

std::string RelaunchParameters(const std::string& commandTail) {
  return commandTail + kImpersonatedMarker;
}

bool IsRelaunchedCopy(const std::string& commandTail) {
  size_t markerSize = std::strlen(kImpersonatedMarker);
  return commandTail.size() >= markerSize &&
         commandTail.compare(commandTail.size() - markerSize, markerSize,
                             kImpersonatedMarker) == 0;
}
