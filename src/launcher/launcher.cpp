#include "launcher/launcher.h"

#include <cstring>
#include <string>
#include <vector>

#include "appkit/exceptions.h"
#include "appkit/handle.h"
#include "appkit/strings.h"
#include "launcher/child_environment.h"
#include "launcher/setup_command.h"
#include "launcher/shell_start.h"
#include "log/session_log.h"
#include "worker/messages.h"
#include "worker/params.h"

namespace {

const char kSection[] = "BootStrap";
const char kStartFailed[] = "Error while creating process for installation";
// Wait slice: how soon a Cancel is noticed and how often the wizard is told
// to hide while the setup program idles.
const DWORD kWaitSliceMs = 1000;
const DWORD kIdleProbeMs = 10;
// Every kind of wake Windows 2000 knows, sent messages included: another
// program's SendMessage to the wizard (a WM_SETTINGCHANGE broadcast, a DDE
// initiate) blocks that program until this thread serves it, and the setup
// program we wait for may be the sender. MinGW's QS_ALLINPUT adds
// QS_RAWINPUT (0x400) whatever _WIN32_WINNT says, and Windows 2000 fails
// the whole wait with ERROR_INVALID_PARAMETER for a bit it does not know:
// the wait would end at once and the work folder be deleted under the
// setup program.
const DWORD kSetupWaitWakeMask = 0xFF;
static_assert((kSetupWaitWakeMask & ~0xFFu) == 0,
              "wake mask bits above 0xFF fail the wait on Windows 2000");
static_assert(kSetupWaitWakeMask == ((QS_ALLEVENTS | QS_SENDMESSAGE) & 0xFF),
              "the wait wakes for what QS_ALLEVENTS names and for sent messages");

// The size the setup program's start-up information announces: 68 bytes
// in 32-bit programs (104 in the x86-64 test build).
static_assert(sizeof(STARTUPINFOA) == (sizeof(void*) == 4 ? 68 : 104),
              "STARTUPINFOA layout");


// Records written once the start is behind us must not stop the routine:
// its final message is what lets the wizard go on, so a log that fails to
// write (a full disk) costs only the record.
void Note(CSessionLog* log, const char* text) {
  if (log == nullptr) return;
  try {
    log->WriteInfo(kSection, text);
  } catch (...) {
  }
}

void NoteSessionReopened(CSessionLog* log) {
  if (log == nullptr) return;
  try {
    log->WriteBegin();
  } catch (...) {
  }
}

// Starts the setup program; on failure records why and raises the stop
// flag. Exceptions are left to the caller's guard.
void StartSetupProgram(ProcessParams& params, CSessionLog* log,
                       PROCESS_INFORMATION& process) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_FORCEONFEEDBACK;

  const std::string folder = WorkingFolderOf(params.programPath, IsAnsiLeadByte);
  ChildEnvironment environment(log);
  if (log != nullptr) {
    log->WriteInfo(kSection, "Creating process");
    // The setup program may run for long and may itself log: the
    // bootstrapper's session is closed in the log meanwhile.
    log->WriteEnd();
  }
  // CreateProcessA may write into the command line, so it gets a copy.
  std::vector<char> commandLine(params.commandLine.begin(), params.commandLine.end());
  commandLine.push_back('\0');
  if (!CreateFreshProcess(params.programPath.c_str(), commandLine.data(), folder.c_str(),
                          &startup, &process, environment)) {
    DWORD error = GetLastError();
    // Unelevated (update mode), a setup program that must run elevated
    // starts only through the shell, which asks for the rights.
    if (error == kErrorElevationRequired) {
      if (log != nullptr) log->WriteInfo(kSection, "The setup program asks for administrator rights");
      if (StartThroughShell(params.programPath.c_str(), params.commandLine.c_str(),
                            folder.c_str(), &process)) {
        if (log != nullptr) log->WriteInfo(kSection, "Installation process successfully started");
        return;
      }
      error = GetLastError();
    }
    std::memset(&process, 0, sizeof process);
    if (log != nullptr) log->WriteError(kSection, kStartFailed, error);
    params.stop = true;
    return;
  }
  if (log != nullptr) log->WriteInfo(kSection, "Installation process successfully started");
}

// The start under its guard: whatever goes wrong becomes an error record
// and a raised stop flag, so the wizard still hears of the end.
void GuardedStart(ProcessParams& params, CSessionLog* log,
                  PROCESS_INFORMATION& process) {
  try {
    StartSetupProgram(params, log, process);
  } catch (const CException& e) {
    params.stop = true;
    if (log != nullptr) log->WriteError(kSection, kStartFailed, e);
  } catch (...) {
    const DWORD error = GetLastError();
    params.stop = true;
    if (log != nullptr) log->WriteError(kSection, kStartFailed, error);
  }
}

// The class atom of dialog windows.
const ATOM kDialogClassAtom = 32770;

// When this thread serves the wizard (the run from its manual-install
// step), Tab, Enter and Escape must move between its controls as in the
// modal loop, whose place this loop takes meanwhile. Other windows of the
// thread get their messages unchanged.
bool IsDialogKeystroke(MSG& msg) {
  if (msg.hwnd == nullptr) return false;
  HWND root = GetAncestor(msg.hwnd, GA_ROOT);
  return root != nullptr && GetClassLongA(root, GCW_ATOM) == kDialogClassAtom &&
         IsDialogMessageA(root, &msg) != FALSE;
}

// Sleeps for ms while serving this thread's messages: the wizard's thread
// itself starts the setup program from the manual-install step, and its
// window must keep answering while the start is retried. A quit request
// stays for the caller's loop.
void PauseServingMessages(DWORD ms) {
  const DWORD start = GetTickCount();
  for (DWORD spent = 0; spent < ms; spent = GetTickCount() - start) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, kSetupWaitWakeMask);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT &&
           PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
      if (!IsDialogKeystroke(msg)) DispatchMessageA(&msg);
  }
}

// Waits for the setup program while serving this thread's messages; ends
// early when the stop flag is raised (the program then keeps running).
void WaitForSetupProgram(ProcessParams& params, HANDLE process) {
  HCURSOR kept = SetCursor(LoadCursorA(nullptr, IDC_APPSTARTING));
  bool quit = false;
  int quitCode = 0;
  for (;;) {
    const DWORD result = MsgWaitForMultipleObjects(1, &process, FALSE,
                                                   kWaitSliceMs, kSetupWaitWakeMask);
    if (result == WAIT_OBJECT_0) break;
    if (params.stop) break;
    if (result == WAIT_OBJECT_0 + 1) {
      // A sent message wakes the wait but is handled inside the peek and
      // leaves the queue empty: a blocking GetMessageA here could then
      // sleep long after the setup program has ended. The queue is drained
      // whole, since the wait wakes only for input that is new.
      MSG msg;
      while (!quit && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
          quitCode = static_cast<int>(msg.wParam);
          quit = true;
        } else if (!IsDialogKeystroke(msg)) {
          DispatchMessageA(&msg);
        }
      }
      continue;
    }
    if (result != WAIT_TIMEOUT) break;
    // Once the setup program waits for input its own window is up and the
    // wizard can step aside.
    if (params.window != nullptr && WaitForInputIdle(process, kIdleProbeMs) == 0) {
      SetCursor(kept);
      SendMessageA(params.window, WM_HIDE_WIZARD, 0, reinterpret_cast<LPARAM>(&params));
    }
  }
  // A quit request taken from the queue belongs to the caller's loop.
  if (quit) PostQuitMessage(quitCode);
}

// Everything up to the final message. Returns with the outcome in the
// block (stop flag and exit code).
void Launch(ProcessParams& params, CSessionLog* log) {
  if (log != nullptr)
    log->WriteInfo(kSection,
                   StrFormat("Starting installation thread for : %s, folder : %s, "
                             "command line : %s",
                             params.programPath.c_str(), params.folder.c_str(),
                             params.commandLine.c_str()));
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  GuardedStart(params, log, info);
  ScopedKernelHandle process(info.hProcess);
  ScopedKernelHandle thread(info.hThread);
  if (!params.stop) {
    WaitForSetupProgram(params, process.Get());
    NoteSessionReopened(log);
    Note(log, "Installation terminated");
  }
  DWORD exitCode = 0;
  if (process.IsValid() && GetExitCodeProcess(process.Get(), &exitCode))
    params.exitCode = exitCode;
}

CSessionLog* LogOf(const ProcessParams& params) {
  try {
    return params.owner != nullptr ? params.owner->GetSessionLog() : nullptr;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

DWORD WINAPI InstallationThread(LPVOID block) {
  // No exception may leave a thread procedure: it could not unwind through
  // the system's frames and would end the whole process.
  try {
    ProcessParams& params = *static_cast<ProcessParams*>(block);
    // The wizard may end, and the block with it, as soon as it has the
    // final message: take what is needed afterwards first.
    CSessionLog* const log = LogOf(params);
    const HWND window = params.window;
    try {
      Launch(params, log);
    } catch (...) {
      // Only the opening record can get here: the wizard must still learn
      // that nothing was started.
      params.stop = true;
    }
    if (window != nullptr)
      SendMessageA(window, params.stop ? WM_WORKER_CANCELLED : WM_SETUP_DONE, 0,
                   reinterpret_cast<LPARAM>(&params));
    Note(log, "Terminating installation thread");
  } catch (...) {
  }
  return 0;
}

// A virus scanner may hold a program it has just seen written for as long as
// it scans it: seconds for a large self-extractor on a slow disk.
BOOL CreateFreshProcess(const char* program, char* commandLine, const char* folder,
                        STARTUPINFOA* startup, PROCESS_INFORMATION* process,
                        ChildEnvironment& environment) {
  const DWORD kRetryMs = 10000, kPauseMs = 100;
  const DWORD start = GetTickCount();
  for (;;) {
    if (CreateProcessA(program, commandLine, nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP | environment.CreationFlags(),
                       environment.Block(), folder, startup, process))
      return TRUE;
    const DWORD error = GetLastError();
    if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) ||
        GetTickCount() - start >= kRetryMs)
      return FALSE;
    PauseServingMessages(kPauseMs);
  }
}

// The second byte of a double-byte character may be 0x5C: program folders
// are found walking paths by characters of the ANSI code page.
bool IsAnsiLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }
