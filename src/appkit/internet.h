// The framework's internet client: one HTTP request over WinINet in its
// asynchronous mode. A call that may wait on the network returns at once and
// the caller waits for its completion, for its own cancel flag or for its
// time limit, whichever comes first: a host that accepts and says nothing
// cannot hold Cancel (closing a request from another thread does not end a
// blocked call on every WinINet). Failed calls throw CInternetException with
// the call's GetLastError code (ERROR_INTERNET_TIMEOUT at the time limit), so
// does a WinINet that cannot be loaded from the system folder; a raised
// cancel flag throws CUserException.
#ifndef RAVEN_APPKIT_INTERNET_H
#define RAVEN_APPKIT_INTERNET_H

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <string>

class CInternetSession {
 public:
  // A session with the system's proxy settings (INTERNET_OPEN_TYPE_PRECONFIG).
  CInternetSession(const std::string& agent, const volatile bool* cancel);
  // Closes the request, the connection and the session; what WinINet still
  // does with them ends on its own time, touching nothing of the caller's.
  ~CInternetSession();
  CInternetSession(const CInternetSession&) = delete;
  CInternetSession& operator=(const CInternetSession&) = delete;

  // An option of the session (time-outs, for one) whose value is a DWORD.
  void SetOption(DWORD option, DWORD value);
  // No user name or password; connection flags 0.
  void Connect(const std::string& host, INTERNET_PORT port);
  // No referrer and no accept types.
  void OpenRequest(const char* verb, const std::string& object, const char* version,
                   DWORD flags);
  // Sends the request with these extra headers (CR LF ended) and no body,
  // and waits at most waitMs for the response's head.
  void SendRequest(const std::string& headers, DWORD waitMs);
  // The response's status line and headers as they came, CR LF separated.
  std::string RawHeaders();
  // Reads what has arrived, up to the buffer's size, waiting at most waitMs
  // for the first of it: a slow sender cannot hold one read for long. 0 at
  // the end of the response. The bytes are at Data() until the next read.
  // beforeWaiting, if given, is called when nothing has arrived yet.
  DWORD Read(DWORD waitMs, const std::function<void()>& beforeWaiting = nullptr);
  const char* Data() const;
  static const DWORD kBufferSize = 64 * 1024;
  // InternetErrorDlg for this request, owned by window.
  DWORD ErrorDialog(HWND window, DWORD error, DWORD flags);

  // What WinINet's status callback shares with the session.
  struct Shared;

 private:
  void Wait(DWORD waitMs);
  bool ReadArrived(DWORD waitMs, DWORD start, const std::function<void()>& beforeWaiting,
                   DWORD* got);

  Shared* shared_;
  const volatile bool* cancel_;
  HINTERNET session_ = nullptr, connection_ = nullptr, request_ = nullptr;
};

// Tells WinINet that the system is online (INTERNET_OPTION_CONNECTED_STATE),
// before a session is opened: where the user's browser was set to work
// offline, older WinINets fail every request at once otherwise. Best effort.
void SetInternetOnline();

#endif
