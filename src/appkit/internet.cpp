#include "appkit/internet.h"

#include <cstring>
#include <vector>

#include "appkit/exceptions.h"
#include "appkit/handle.h"
#include "appkit/system_library.h"

namespace {

// Written out: these are what every WinINet from Windows 2000's on knows.
const DWORD kAsyncSession = 0x10000000;       // INTERNET_FLAG_ASYNC
const DWORD kRequestComplete = 100;           // INTERNET_STATUS_REQUEST_COMPLETE
const DWORD kHandleClosing = 70;              // INTERNET_STATUS_HANDLE_CLOSING
const DWORD kRawHeaders = 22;                 // HTTP_QUERY_RAW_HEADERS_CRLF
const DWORD kConnectedState = 50;             // INTERNET_OPTION_CONNECTED_STATE
// A read takes what has arrived. Where a WinINet does not know the flag it
// is IRF_USE_CONTEXT, whose context is the handle's own anyway.
const DWORD kNoWait = 8;                      // IRF_NO_WAIT
static_assert(kAsyncSession == INTERNET_FLAG_ASYNC && kRequestComplete == INTERNET_STATUS_REQUEST_COMPLETE &&
                  kHandleClosing == INTERNET_STATUS_HANDLE_CLOSING &&
                  kRawHeaders == HTTP_QUERY_RAW_HEADERS_CRLF &&
                  kConnectedState == INTERNET_OPTION_CONNECTED_STATE,
              "WinINet values");
static_assert(kNoWait == IRF_NO_WAIT && kNoWait == IRF_USE_CONTEXT, "read flags");
static_assert(sizeof(INTERNET_CONNECTED_INFO) == 8, "INTERNET_CONNECTED_INFO layout");
static_assert(sizeof(INTERNET_BUFFERSA) == (sizeof(void*) == 4 ? 40 : 56), "INTERNET_BUFFERSA layout");
// How soon a cancel flag is seen while a call waits.
const DWORD kPollMs = 50;

// The WinINet functions the client uses, taken from the system folder's
// copy. ok is false when the DLL or one of them is missing; error then
// says why.
struct WinInetApi {
  bool ok = false;
  DWORD error = 0;
  decltype(&::InternetOpenA) open = nullptr;
  decltype(&::InternetConnectA) connect = nullptr;
  decltype(&::InternetSetOptionA) setOption = nullptr;
  decltype(&::InternetSetStatusCallback) setCallback = nullptr;
  decltype(&::HttpOpenRequestA) openRequest = nullptr;
  decltype(&::HttpSendRequestA) sendRequest = nullptr;
  decltype(&::HttpQueryInfoA) queryInfo = nullptr;
  decltype(&::InternetReadFileExA) readEx = nullptr;
  decltype(&::InternetQueryDataAvailable) available = nullptr;
  decltype(&::InternetErrorDlg) errorDialog = nullptr;
  decltype(&::InternetCloseHandle) close = nullptr;
};

WinInetApi LoadWinInet() {
  WinInetApi api;
  HMODULE m = LoadSystemLibrary("wininet.dll");
  api.ok = m != nullptr && ResolveFunction(m, "InternetOpenA", &api.open) &&
           ResolveFunction(m, "InternetConnectA", &api.connect) &&
           ResolveFunction(m, "InternetSetOptionA", &api.setOption) &&
           ResolveFunction(m, "InternetSetStatusCallback", &api.setCallback) &&
           ResolveFunction(m, "HttpOpenRequestA", &api.openRequest) &&
           ResolveFunction(m, "HttpSendRequestA", &api.sendRequest) &&
           ResolveFunction(m, "HttpQueryInfoA", &api.queryInfo) &&
           ResolveFunction(m, "InternetReadFileExA", &api.readEx) &&
           ResolveFunction(m, "InternetQueryDataAvailable", &api.available) &&
           ResolveFunction(m, "InternetErrorDlg", &api.errorDialog) &&
           ResolveFunction(m, "InternetCloseHandle", &api.close);
  if (!api.ok) api.error = GetLastError() != 0 ? GetLastError() : ERROR_PROC_NOT_FOUND;
  return api;
}

const WinInetApi& LoadedWinInet() {
  static const WinInetApi api = LoadWinInet();
  return api;
}

// A WinINet that cannot be had fails the call, as any failed call does.
const WinInetApi& WinInet() {
  const WinInetApi& api = LoadedWinInet();
  if (!api.ok) throw CInternetException(api.error);
  return api;
}

HINTERNET CheckedHandle(HINTERNET handle) {
  if (handle == nullptr) throw CInternetException(GetLastError());
  return handle;
}

// A call that failed, unless only because it goes on in the background.
bool Pending(BOOL done) {
  if (done) return false;
  const DWORD error = GetLastError();
  if (error != ERROR_IO_PENDING) throw CInternetException(error);
  return true;
}

DWORD Remaining(DWORD start, DWORD waitMs) {
  const DWORD spent = GetTickCount() - start;
  return spent < waitMs ? waitMs - spent : 0;
}

}  // namespace

// What the worker and WinINet's callback share. WinINet may still call back
// for a handle after the worker closed it and went on (a call it could not
// end at once), and may still write into the buffer: so this lives until
// the worker and every handle that carries it as context let go of it
// (INTERNET_STATUS_HANDLE_CLOSING is the last call for a handle).
struct CInternetSession::Shared {
  LONG refs = 1;
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  volatile DWORD_PTR result = 0;
  volatile DWORD error = 0;
  INTERNET_BUFFERSA in = {};
  DWORD available = 0;
  std::string headers;
  std::vector<char> buffer = std::vector<char>(kBufferSize);

  void Hold() { InterlockedIncrement(&refs); }
  void Release() {
    if (InterlockedDecrement(&refs) == 0) {
      CloseHandle(done);
      delete this;
    }
  }
};

namespace {

// Runs on WinINet's threads: only signals and lets go, never throws.
void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  auto* shared = reinterpret_cast<CInternetSession::Shared*>(context);
  if (shared == nullptr) return;  // the session's own handle carries none
  if (status == kRequestComplete && info != nullptr) {
    const INTERNET_ASYNC_RESULT* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    shared->result = result->dwResult;
    shared->error = result->dwError;
    SetEvent(shared->done);
  } else if (status == kHandleClosing) {
    shared->Release();
  }
}

}  // namespace

// Called from destructors: must not throw (a handle exists only once WinINet
// was loaded anyway).
void CloseInternetHandle(HINTERNET h) {
  const WinInetApi& api = LoadedWinInet();
  if (api.ok) api.close(h);
}

void SetInternetOnline() {
  const WinInetApi& api = LoadedWinInet();
  INTERNET_CONNECTED_INFO online = {INTERNET_STATE_CONNECTED, 0};
  if (api.ok) api.setOption(nullptr, kConnectedState, &online, sizeof online);
}

CInternetSession::CInternetSession(const std::string& agent, const volatile bool* cancel)
    : shared_(new Shared), cancel_(cancel) {
  try {
    if (shared_->done == nullptr) throw CInternetException(GetLastError());
    const WinInetApi& api = WinInet();
    session_ = CheckedHandle(
        api.open(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, kAsyncSession));
    // The handles made from the session inherit the callback.
    if (api.setCallback(session_, OnStatus) == INTERNET_INVALID_STATUS_CALLBACK)
      throw CInternetException(GetLastError());
  } catch (...) {
    if (session_ != nullptr) CloseInternetHandle(session_);
    shared_->Release();
    throw;
  }
}

CInternetSession::~CInternetSession() {
  for (HINTERNET h : {request_, connection_, session_})
    if (h != nullptr) CloseInternetHandle(h);
  shared_->Release();
}

void CInternetSession::SetOption(DWORD option, DWORD value) {
  if (!WinInet().setOption(session_, option, &value, sizeof value))
    throw CInternetException(GetLastError());
}

void CInternetSession::Connect(const std::string& host, INTERNET_PORT port) {
  connection_ = CheckedHandle(WinInet().connect(session_, host.c_str(), port, nullptr, nullptr,
                                                INTERNET_SERVICE_HTTP, 0,
                                                reinterpret_cast<DWORD_PTR>(shared_)));
  shared_->Hold();
}

void CInternetSession::OpenRequest(const char* verb, const std::string& object,
                                   const char* version, DWORD flags) {
  request_ = CheckedHandle(WinInet().openRequest(connection_, verb, object.c_str(), version,
                                                 nullptr, nullptr, flags,
                                                 reinterpret_cast<DWORD_PTR>(shared_)));
  shared_->Hold();
}

void CInternetSession::Wait(DWORD waitMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (WaitForSingleObject(shared_->done, kPollMs) == WAIT_OBJECT_0) {
      // Some completions carry a count in dwResult (0 at the end of the
      // data): only the error code says that it failed.
      if (shared_->result == 0 && shared_->error != 0) throw CInternetException(shared_->error);
      return;
    }
    if (*cancel_) throw CUserException();
    if (Remaining(start, waitMs) == 0) throw CInternetException(ERROR_INTERNET_TIMEOUT);
  }
}

void CInternetSession::SendRequest(const std::string& headers, DWORD waitMs) {
  if (*cancel_) throw CUserException();
  // Kept with the shared block: WinINet may read them after we went on.
  shared_->headers = headers;
  ResetEvent(shared_->done);
  const BOOL sent = WinInet().sendRequest(
      request_, shared_->headers.empty() ? nullptr : shared_->headers.c_str(),
      static_cast<DWORD>(shared_->headers.size()), nullptr, 0);
  if (Pending(sent)) Wait(waitMs);
}

std::string CInternetSession::RawHeaders() {
  std::vector<char> text(4096);
  for (;;) {
    DWORD size = static_cast<DWORD>(text.size());
    if (WinInet().queryInfo(request_, kRawHeaders, text.data(), &size, nullptr))
      return std::string(text.data(), size < text.size() ? size : text.size());
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= text.size() || size > 65536)
      throw CInternetException(GetLastError());
    text.resize(size);
  }
}

DWORD CInternetSession::Read(DWORD waitMs, const std::function<void()>& beforeWaiting) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (*cancel_) throw CUserException();
    // What has arrived, up to the buffer, without waiting for the rest (a
    // plain read waits to fill the buffer; asking first how much has
    // arrived gets a few KiB a call from some WinINets, and calls cost).
    DWORD got = 0;
    if (ReadArrived(waitMs, start, beforeWaiting, &got)) return got;
    // Nothing yet: wait until something arrives; nothing at all is the end.
    ResetEvent(shared_->done);
    shared_->available = 0;
    if (!Pending(WinInet().available(request_, &shared_->available, 0, 0))) {
      if (shared_->available == 0) return 0;
      continue;
    }
    if (beforeWaiting) beforeWaiting();
    Wait(Remaining(start, waitMs));
  }
}

// One read that does not wait for data (IRF_NO_WAIT). Where it cannot
// answer at once, some WinINets complete it later having read nothing and
// leave the count as it was: a mark at the buffer's end, untouched, tells
// that apart from a WinINet that took the flag for another and filled the
// buffer. True with the count when bytes came.
bool CInternetSession::ReadArrived(DWORD waitMs, DWORD start,
                                   const std::function<void()>& beforeWaiting, DWORD* got) {
  static const char kMark[16] = {'R', 'a', 'v', 'e', 'n', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 'r'};
  char* const mark = shared_->buffer.data() + kBufferSize - sizeof kMark;
  INTERNET_BUFFERSA& in = shared_->in;
  ZeroMemory(&in, sizeof in);
  in.dwStructSize = sizeof in;
  in.lpvBuffer = shared_->buffer.data();
  in.dwBufferLength = kBufferSize;
  CopyMemory(mark, kMark, sizeof kMark);
  ResetEvent(shared_->done);
  if (Pending(WinInet().readEx(request_, &in, kNoWait, reinterpret_cast<DWORD_PTR>(shared_)))) {
    if (beforeWaiting) beforeWaiting();
    Wait(Remaining(start, waitMs));
    if (in.dwBufferLength >= kBufferSize && std::memcmp(mark, kMark, sizeof kMark) == 0) return false;
  }
  *got = in.dwBufferLength < kBufferSize ? in.dwBufferLength : kBufferSize;
  return *got != 0;
}

const char* CInternetSession::Data() const { return shared_->buffer.data(); }

DWORD CInternetSession::ErrorDialog(HWND window, DWORD error, DWORD flags) {
  return WinInet().errorDialog(window, request_, error, flags, nullptr);
}
