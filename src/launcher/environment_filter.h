// Which variables of our environment the programs we start must not
// inherit; free of Windows so that the rule is tested natively.
#ifndef RAVEN_LAUNCHER_ENVIRONMENT_FILTER_H
#define RAVEN_LAUNCHER_ENVIRONMENT_FILTER_H

#include <string>
#include <vector>

// The variables that make the framework's runtime load a DLL of their
// choosing into a managed program (COR_ENABLE_PROFILING with
// COR_PROFILER_PATH, COMPlus_* and the later runtimes' DOTNET_*). An
// elevated run takes its environment from the user's profile, which the
// user can write: a setup program started with them would load the user's
// DLL with our rights.
bool IsRuntimeHook(const std::wstring& name, wchar_t (*upper)(wchar_t));

// An environment block ("name=value" strings, each ended by a zero, the
// last by a second one) without the variables IsRuntimeHook names, with
// their names in *removed. upper folds one character as the system does
// when it compares names; null folds ASCII letters only. A block that ends
// early is taken up to its last whole string.
std::wstring WithoutRuntimeHooks(const wchar_t* block, size_t length, wchar_t (*upper)(wchar_t),
                                 std::vector<std::wstring>* removed);

#endif
