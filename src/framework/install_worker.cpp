// The framework unpack and install worker: runs the redistributable to
// unpack the framework package, waits for it, then installs the package
// through the Windows Installer with its messages routed to
// InstallerUiHandler.
#include <windows.h>
#include <msi.h>

#include <memory>
#include <string>
#include <vector>

#include "appkit/app.h"
#include "appkit/exceptions.h"
#include "appkit/strings.h"
#include "appkit/system_library.h"
#include "framework/install_command.h"
#include "framework/workers.h"
#include "launcher/child_environment.h"
#include "launcher/launcher.h"
#include "launcher/setup_command.h"
#include "log/session_log.h"
#include "resource_ids.h"
#include "worker/messages.h"
#include "worker/params.h"
#include "worker/wizard_owner.h"

namespace {

const char kSection[] = "BootStrap";
const char kCreateError[] = "Error while creating process for .net installation";
const char kInstallError[] = "Error while installing .net";
// INSTALLUILEVEL_NONE | INSTALLUILEVEL_SOURCERESONLY: silent, but the
// installer may still ask where its source went.
const INSTALLUILEVEL kInstallUiLevel = static_cast<INSTALLUILEVEL>(0x102);
// INSTALLUILEVEL_NONE: with no window, not even that question.
const INSTALLUILEVEL kSilentUiLevel = static_cast<INSTALLUILEVEL>(2);
// Every message kind from 0 to 14 except files in use.
const DWORD kInstallMessageFilter = 0x7FDF;
// Every kind of wake Windows 2000 knows, sent messages included, written
// out: MinGW's QS_ALLINPUT carries QS_RAWINPUT (0x400) whatever
// _WIN32_WINNT says, and Windows 2000 fails the wait with
// ERROR_INVALID_PARAMETER for that bit, which would send every framework
// installation to the failure step.
const DWORD kUnpackWaitWakeMask = 0xFF;
static_assert((kUnpackWaitWakeMask & ~0xFFu) == 0,
              "wake mask bits above 0xFF fail the wait on Windows 2000");
static_assert(kUnpackWaitWakeMask == (QS_ALLINPUT & 0xFF),
              "the wait wakes for every kind QS_ALLINPUT names but raw input");

// The Windows Installer functions, from the system folder's msi.dll. Loaded
// at the first installation and kept: the external UI handler it installs
// is process-wide anyway. ok is false, with the reason in error, when the
// DLL or a function is missing.
struct MsiApi {
  bool ok = false;
  DWORD error = 0;
  decltype(&::MsiSetInternalUI) setInternalUi = nullptr;
  decltype(&::MsiSetExternalUIA) setExternalUi = nullptr;
  decltype(&::MsiInstallProductA) installProduct = nullptr;
};

MsiApi LoadMsi() {
  MsiApi api;
  HMODULE m = LoadSystemLibrary("msi.dll");
  api.ok = m != nullptr && ResolveFunction(m, "MsiSetInternalUI", &api.setInternalUi) &&
           ResolveFunction(m, "MsiSetExternalUIA", &api.setExternalUi) &&
           ResolveFunction(m, "MsiInstallProductA", &api.installProduct);
  if (!api.ok) api.error = GetLastError() != 0 ? GetLastError() : ERROR_PROC_NOT_FOUND;
  return api;
}

const MsiApi& Msi() {
  static const MsiApi api = LoadMsi();
  return api;
}

// The log is optional only so that a block without one cannot crash us.
class WorkerLog {
 public:
  explicit WorkerLog(CSessionLog* log) : log_(log) {}
  CSessionLog* Session() const { return log_; }  // may be null
  void Info(const std::string& text) {
    if (log_ != nullptr) log_->WriteInfo(kSection, text);
  }
  void Error(const char* message, unsigned long status) {
    if (log_ != nullptr) log_->WriteError(kSection, message, status);
  }
  void Error(const char* message, const CException& e) {
    if (log_ != nullptr) log_->WriteError(kSection, message, e);
  }

 private:
  CSessionLog* log_;
};


// TMP and TEMP of this process for as long as it lives; a variable that was
// not set is removed again. The started program inherits them. The old
// values are kept wide: through the ANSI calls a name the code page cannot
// write would come back as "?", and under a double-byte code page Wine's
// counts a value in characters and cuts as many bytes off its end; the
// installer and the setup program would then get a TEMP that is no folder.
class TemporaryFolderOverride {
 public:
  explicit TemporaryFolderOverride(const std::string& folder) {
    for (int i = 0; i < 2; ++i) {
      std::vector<wchar_t> value(32768);
      SetLastError(0);
      const DWORD n = GetEnvironmentVariableW(kNames[i], value.data(),
                                              static_cast<DWORD>(value.size()));
      set_[i] = n != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
      old_[i].assign(value.data(), n < value.size() ? n : 0);
      SetEnvironmentVariableA(kNarrowNames[i], folder.c_str());
    }
  }
  ~TemporaryFolderOverride() {
    for (int i = 0; i < 2; ++i)
      SetEnvironmentVariableW(kNames[i], set_[i] ? old_[i].c_str() : nullptr);
  }
  TemporaryFolderOverride(const TemporaryFolderOverride&) = delete;
  TemporaryFolderOverride& operator=(const TemporaryFolderOverride&) = delete;

 private:
  static constexpr const wchar_t* kNames[2] = {L"TMP", L"TEMP"};
  static constexpr const char* kNarrowNames[2] = {"TMP", "TEMP"};
  std::wstring old_[2];
  bool set_[2] = {};
};

// First guarded stretch. On success `process` holds the started process's
// handles; on failure the failed flag is set and the failure recorded.
void StartUnpackProcess(ProcessParams& params, WorkerLog& log,
                        PROCESS_INFORMATION& process) {
  try {
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    ZeroMemory(&process, sizeof process);
    const std::string folder =
        WorkingFolderOf(params.programPath, IsAnsiLeadByte);
    std::string commandLine = params.commandLine;  // CreateProcessA writes
    // A self-extracting redistributable unpacks into %TEMP% and has the
    // system's installer take the package from there: in the user's own
    // folder a user program could swap it in between. The folder inherits
    // the work folder's protected DACL.
    if (!params.tempFolder.empty() && !CreateDirectoryA(params.tempFolder.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      log.Error(kCreateError, GetLastError());
      params.failed = true;
      return;
    }
    std::unique_ptr<TemporaryFolderOverride> temp;
    if (!params.tempFolder.empty()) temp.reset(new TemporaryFolderOverride(params.tempFolder));
    ChildEnvironment environment(log.Session());  // TEMP as just set
    const BOOL started = CreateFreshProcess(params.programPath.c_str(), &commandLine[0],
                                            folder.empty() ? nullptr : folder.c_str(),
                                            &startup, &process, environment);
    const DWORD error = GetLastError();
    temp.reset();  // before anything else can start
    if (!started) {
      log.Error(kCreateError, error);
      params.failed = true;
      return;
    }
    log.Info(".net installation process successfully started");
  } catch (const CException& e) {
    log.Error(kCreateError, e);
    params.failed = true;
  } catch (...) {
    log.Error(kCreateError, GetLastError());
    params.failed = true;
  }
}

// Waits for the unpack process while serving this thread's messages. The
// stop flag is looked at twice a second: this thread owns no window, so
// input alone would seldom wake it.
void WaitForUnpack(const ProcessParams& params, HANDLE process) {
  const DWORD kStopPollMs = 500;
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE,
                                                  kStopPollMs, kUnpackWaitWakeMask);
    if (woken == WAIT_OBJECT_0 || params.stop) return;
    if (woken == WAIT_TIMEOUT) continue;
    if (woken != WAIT_OBJECT_0 + 1) return;
    // A sent message wakes the wait too but is handled inside PeekMessageA
    // and leaves the queue empty: a blocking GetMessageA would then sleep
    // until some unrelated message came, long after the process ended. The
    // queue is drained whole, as the wait wakes only for input that is new.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
}

// Reads the unpack process's exit code and closes its handles.
void CollectUnpackProcess(ProcessParams& params,
                          PROCESS_INFORMATION& process) {
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode)) {
    params.exitCode = exitCode;
    if (exitCode != 0) params.failed = true;
  } else {
    params.failed = true;  // an unknown outcome is no success
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
}

// Second guarded stretch: the installation itself.
void InstallPackage(ProcessParams& params, WorkerLog& log) {
  try {
    const MsiApi& msi = Msi();
    if (!msi.ok) {
      log.Error(kInstallError, msi.error);
      params.failed = true;
      return;
    }
    msi.setInternalUi(params.window == nullptr ? kSilentUiLevel : kInstallUiLevel, nullptr);
    msi.setExternalUi(InstallerUiHandler, kInstallMessageFilter, &params);
    const std::string package = params.folder + kFrameworkPackageName;
    const UINT result = msi.installProduct(package.c_str(), kFrameworkInstallProperties);
    params.exitCode = result;
    if (result == ERROR_SUCCESS) {
      log.Info("Installing .net : Ok");
    } else if (FrameworkInstalledBy(result)) {
      // Installed: only the restart is left, and that is the caller's to
      // report, never ours to start.
      log.Info(StrFormat("Installing .net : Ok, a restart is needed (%u)", result));
    } else {
      log.Error(kInstallError, result);
      params.failed = true;
    }
  } catch (const CException& e) {
    log.Error(kInstallError, e);
    params.failed = true;
  } catch (...) {
    log.Error(kInstallError, GetLastError());
    params.failed = true;
  }
}

// Sends the end message that matches the stop flag. `ended` is set first:
// from here on the block belongs to the wizard again.
void SendEndMessage(ProcessParams& params, bool& ended) {
  const HWND window = params.window;
  const UINT end = params.stop ? WM_WORKER_CANCELLED : WM_FRAMEWORK_INSTALL_DONE;
  ended = true;
  if (window != nullptr)
    SendMessageA(window, end, 0, reinterpret_cast<LPARAM>(&params));
}

void RunFrameworkInstall(ProcessParams& params, bool& ended) {
  WizardOwner& owner = *params.owner;
  WorkerLog log(owner.GetSessionLog());
  log.Info(StrFormat(
      "Starting .net installation thread for : %s, folder : %s, command line : %s",
      params.programPath.c_str(), params.folder.c_str(),
      params.commandLine.c_str()));

  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  StartUnpackProcess(params, log, process);
  if (!params.stop && !params.failed) {
    owner.SetStatusText(LoadResString(IDS_UNPACKING));
    log.Info("Unpacking .net setup");
    WaitForUnpack(params, process.hProcess);
    log.Info(".net setup unpacked");
  }
  // Cancelled: the unpacking ends too, or its files would keep the work
  // folder from being deleted.
  if (params.stop && process.hProcess != nullptr) {
    TerminateProcess(process.hProcess, ERROR_CANCELLED);
    WaitForSingleObject(process.hProcess, 5000);
  }
  if (process.hProcess != nullptr) CollectUnpackProcess(params, process);

  if (!params.stop && !params.failed) {
    log.Info("Installing .net");
    owner.SetStatusText(LoadResString(IDS_INSTALLING_FRAMEWORK));
    owner.ShowProgressBar(true);
    owner.SetProgress(0, 100);
    InstallPackage(params, log);
  }

  // Once the end message is handled the wizard may reset and refill the
  // block for the setup launcher: nothing below may read it.
  SendEndMessage(params, ended);
  log.Info("Terminating .net installation thread");
}

}  // namespace

DWORD WINAPI FrameworkInstallWorker(LPVOID processParams) {
  ProcessParams* params = static_cast<ProcessParams*>(processParams);
  if (params == nullptr || params->owner == nullptr) return 0;
  bool ended = false;
  try {
    RunFrameworkInstall(*params, ended);
  } catch (...) {
    // Only a progress operation or a log write (a full disk) gets here; the
    // guarded stretches catch their own. The wizard waits for an end
    // message in its install step, so it still gets one.
    if (!ended) {
      params->failed = true;
      SendEndMessage(*params, ended);
    }
  }
  return 0;
}
