#include "appkit/internet.h"

#include "appkit/exceptions.h"

namespace {

HINTERNET CheckedHandle(HINTERNET handle) {
  if (handle == nullptr) throw CInternetException(GetLastError());
  return handle;
}

}  // namespace

CInternetSession::CInternetSession(const std::string& agent, DWORD accessType)
    : session_(CheckedHandle(
          InternetOpenA(agent.c_str(), accessType, nullptr, nullptr, 0))) {}

CHttpConnection CInternetSession::GetHttpConnection(const std::string& host,
                                                    INTERNET_PORT port,
                                                    DWORD_PTR context) {
  return CHttpConnection(CheckedHandle(
      InternetConnectA(session_.Get(), host.c_str(), port, nullptr, nullptr,
                       INTERNET_SERVICE_HTTP, 0, context)));
}

CHttpFile CHttpConnection::OpenRequest(const char* verb, const std::string& object,
                                       const char* version, DWORD flags,
                                       DWORD_PTR context) {
  return CHttpFile(CheckedHandle(HttpOpenRequestA(connection_.Get(), verb,
                                                  object.c_str(), version,
                                                  nullptr, nullptr, flags,
                                                  context)));
}

void CHttpFile::SendRequest() {
  if (!HttpSendRequestA(request_.Get(), nullptr, 0, nullptr, 0))
    throw CInternetException(GetLastError());
}

bool CHttpFile::QueryInfo(DWORD level, std::string& text, DWORD bufferSize) {
  std::string buffer(bufferSize, '\0');
  DWORD size = bufferSize;
  if (!HttpQueryInfoA(request_.Get(), level, &buffer[0], &size, nullptr))
    return false;
  // On success size is the length without the terminating zero.
  buffer.resize(size < bufferSize ? size : bufferSize);
  text = buffer.c_str();
  return true;
}

bool CHttpFile::QueryInfo(DWORD level, DWORD& value) {
  DWORD number = 0;
  DWORD size = sizeof number;
  if (!HttpQueryInfoA(request_.Get(), level | HTTP_QUERY_FLAG_NUMBER, &number,
                      &size, nullptr))
    return false;
  value = number;
  return true;
}

DWORD CHttpFile::Read(void* buffer, DWORD size) {
  DWORD read = 0;
  if (!InternetReadFile(request_.Get(), buffer, size, &read))
    throw CInternetException(GetLastError());
  return read;
}
