#include "launcher/child_environment.h"

#include <windows.h>

#include <vector>

#include "app/elevation.h"
#include "appkit/ansi_path.h"
#include "appkit/system_library.h"
#include "launcher/environment_filter.h"
#include "log/session_log.h"

namespace {

const unsigned long kUnicodeEnvironment = 0x00000400;
static_assert(kUnicodeEnvironment == CREATE_UNICODE_ENVIRONMENT, "creation flag");

// The system's own folding of names (locale-free, as its lookups compare),
// from ntdll.dll; ASCII folding where it is missing.
WCHAR(WINAPI* g_upcase)(WCHAR) = nullptr;
wchar_t SystemUpcase(wchar_t c) { return g_upcase(c); }

}  // namespace

ChildEnvironment::ChildEnvironment(CSessionLog* log) {
  if (!IsAdministrator()) return;
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) return;
  size_t length = 0;
  while (block[length] != L'\0' || block[length + 1] != L'\0') ++length;
  std::vector<std::wstring> removed;
  if (g_upcase == nullptr)
    ResolveFunction(GetModuleHandleA("ntdll.dll"), "RtlUpcaseUnicodeChar", &g_upcase);
  block_ = WithoutRuntimeHooks(block, length + 2, g_upcase != nullptr ? SystemUpcase : nullptr,
                               &removed);
  FreeEnvironmentStringsW(block);
  filtered_ = !removed.empty();
  if (!filtered_ || log == nullptr) return;
  std::string names;
  for (const std::wstring& name : removed) names += (names.empty() ? "" : ", ") + NarrowOf(name.c_str(), CP_ACP);
  log->WriteInfo("BootStrap", "Variables left out of the started program's environment: " + names);
}

void* ChildEnvironment::Block() { return filtered_ ? &block_[0] : nullptr; }

unsigned long ChildEnvironment::CreationFlags() const {
  return filtered_ ? kUnicodeEnvironment : 0;
}
