#include "appkit/internet.h"

#include "appkit/exceptions.h"
#include "appkit/system_library.h"

namespace {

// The WinINet functions the client uses, taken from the system folder's
// copy. ok is false when the DLL or one of them is missing; error then
// says why.
struct WinInetApi {
  bool ok = false;
  DWORD error = 0;
  decltype(&::InternetOpenA) open = nullptr;
  decltype(&::InternetConnectA) connect = nullptr;
  decltype(&::InternetSetOptionA) setOption = nullptr;
  decltype(&::HttpOpenRequestA) openRequest = nullptr;
  decltype(&::HttpSendRequestA) sendRequest = nullptr;
  decltype(&::HttpQueryInfoA) queryInfo = nullptr;
  decltype(&::InternetReadFile) read = nullptr;
  decltype(&::InternetQueryDataAvailable) available = nullptr;
  decltype(&::InternetCloseHandle) close = nullptr;
};

WinInetApi LoadWinInet() {
  WinInetApi api;
  HMODULE m = LoadSystemLibrary("wininet.dll");
  api.ok = m != nullptr && ResolveFunction(m, "InternetOpenA", &api.open) &&
           ResolveFunction(m, "InternetConnectA", &api.connect) &&
           ResolveFunction(m, "InternetSetOptionA", &api.setOption) &&
           ResolveFunction(m, "HttpOpenRequestA", &api.openRequest) &&
           ResolveFunction(m, "HttpSendRequestA", &api.sendRequest) &&
           ResolveFunction(m, "HttpQueryInfoA", &api.queryInfo) &&
           ResolveFunction(m, "InternetReadFile", &api.read) &&
           ResolveFunction(m, "InternetQueryDataAvailable", &api.available) &&
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

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  if (!WinInet().setOption(handle, option, &value, sizeof value))
    throw CInternetException(GetLastError());
}

}  // namespace

// Called from destructors: must not throw (a handle exists only once WinINet
// was loaded anyway).
void CloseInternetHandle(HINTERNET h) {
  const WinInetApi& api = LoadedWinInet();
  if (api.ok) api.close(h);
}

CInternetSession::CInternetSession(const std::string& agent, DWORD accessType)
    : session_(CheckedHandle(
          WinInet().open(agent.c_str(), accessType, nullptr, nullptr, 0))) {}

void CInternetSession::SetOption(DWORD option, DWORD value) {
  SetDwordOption(session_.Get(), option, value);
}

void CHttpFile::SetOption(DWORD option, DWORD value) {
  SetDwordOption(request_.Get(), option, value);
}

CHttpConnection CInternetSession::GetHttpConnection(const std::string& host,
                                                    INTERNET_PORT port,
                                                    DWORD_PTR context) {
  return CHttpConnection(CheckedHandle(
      WinInet().connect(session_.Get(), host.c_str(), port, nullptr, nullptr,
                        INTERNET_SERVICE_HTTP, 0, context)));
}

CHttpFile CHttpConnection::OpenRequest(const char* verb, const std::string& object,
                                       const char* version, DWORD flags,
                                       DWORD_PTR context) {
  return CHttpFile(CheckedHandle(WinInet().openRequest(
      connection_.Get(), verb, object.c_str(), version, nullptr, nullptr, flags,
      context)));
}

void CHttpFile::SendRequest() {
  if (!WinInet().sendRequest(request_.Get(), nullptr, 0, nullptr, 0))
    throw CInternetException(GetLastError());
}

bool CHttpFile::QueryInfo(DWORD level, std::string& text, DWORD bufferSize) {
  std::string buffer(bufferSize, '\0');
  DWORD size = bufferSize;
  if (!WinInet().queryInfo(request_.Get(), level, &buffer[0], &size, nullptr))
    return false;
  // On success size is the length without the terminating zero.
  buffer.resize(size < bufferSize ? size : bufferSize);
  text = buffer.c_str();
  return true;
}

bool CHttpFile::QueryInfo(DWORD level, DWORD& value) {
  DWORD number = 0;
  DWORD size = sizeof number;
  if (!WinInet().queryInfo(request_.Get(), level | HTTP_QUERY_FLAG_NUMBER,
                           &number, &size, nullptr))
    return false;
  value = number;
  return true;
}

DWORD CHttpFile::Read(void* buffer, DWORD size) {
  // A read waits until it has all it asked for: only what has arrived is
  // asked for, so a slow sender cannot hold one read for ever.
  DWORD available = 0;
  if (!WinInet().available(request_.Get(), &available, 0, 0))
    throw CInternetException(GetLastError());
  if (available != 0 && available < size) size = available;
  DWORD read = 0;
  if (!WinInet().read(request_.Get(), buffer, size, &read))
    throw CInternetException(GetLastError());
  return read;
}
