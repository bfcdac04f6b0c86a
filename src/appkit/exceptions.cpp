#include "appkit/exceptions.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

bool CException::GetErrorMessage(char* buffer, unsigned size) const {
  if (buffer == nullptr || size == 0) return false;
  std::string text = ErrorText();
  size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n > 0;
}

namespace {

std::string FormatFrom(DWORD flags, HMODULE module, unsigned long code) {
  char* text = nullptr;
  DWORD n = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result;
  if (n != 0 && text != nullptr) result.assign(text, n);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r'))
    result.pop_back();
  return result;
}

}  // namespace

std::string SystemErrorText(unsigned long code) {
  return FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
}

std::string CFileException::ErrorText() const {
  std::string text = SystemErrorText(osError_);
  if (text.empty()) text = "File error " + std::to_string(osError_);
  if (!fileName_.empty()) text += " (" + fileName_ + ")";
  return text;
}

std::string CInternetException::ErrorText() const {
  // WinINet's own codes have their texts in wininet.dll, not in the system.
  std::string text;
  if (error_ >= INTERNET_ERROR_BASE && error_ <= INTERNET_ERROR_LAST) {
    HMODULE wininet = GetModuleHandleA("wininet.dll");
    if (wininet != nullptr)
      text = FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet, error_);
  } else {
    text = SystemErrorText(error_);
  }
  if (text.empty()) text = "Internet error " + std::to_string(error_);
  return text;
}

std::string CMemoryException::ErrorText() const { return "Out of memory."; }

std::string CResourceException::ErrorText() const {
  return "A required resource was unavailable.";
}

std::string CUserException::ErrorText() const { return std::string(); }
