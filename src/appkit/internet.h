// The framework's internet client: an HTTP session, a connection and a
// request over WinINet, each owning its handle. Every failed call throws
// CInternetException with the call's GetLastError code; so does a WinINet
// that cannot be loaded from the system folder.
#ifndef RAVEN_APPKIT_INTERNET_H
#define RAVEN_APPKIT_INTERNET_H

#include <windows.h>
#include <wininet.h>

#include <string>

#include "appkit/handle.h"

class CHttpFile {
 public:
  explicit CHttpFile(HINTERNET request) : request_(request) {}
  CHttpFile(CHttpFile&&) = default;
  CHttpFile& operator=(CHttpFile&&) = default;

  // An option of this request whose value is a DWORD.
  void SetOption(DWORD option, DWORD value);
  // Sends the request with no extra headers and no body.
  void SendRequest();
  // A response header as text, read into a buffer of bufferSize bytes.
  // False (and text untouched) when the response does not carry it.
  bool QueryInfo(DWORD level, std::string& text, DWORD bufferSize = 80);
  // A response header as a number (HTTP_QUERY_FLAG_NUMBER is added). False
  // (and value untouched) when the response does not carry it.
  bool QueryInfo(DWORD level, DWORD& value);
  // Reads up to size bytes, once some have arrived; 0 at the end of the
  // response.
  DWORD Read(void* buffer, DWORD size);
  HINTERNET Handle() const { return request_.Get(); }
  // Gives up the handle without closing it: someone else closes it.
  [[nodiscard]] HINTERNET Release() { return request_.Take(); }

 private:
  ScopedInternetHandle request_;
};

class CHttpConnection {
 public:
  explicit CHttpConnection(HINTERNET connection) : connection_(connection) {}
  CHttpConnection(CHttpConnection&&) = default;
  CHttpConnection& operator=(CHttpConnection&&) = default;

  // No referrer and no accept types.
  CHttpFile OpenRequest(const char* verb, const std::string& object,
                        const char* version, DWORD flags, DWORD_PTR context);
  HINTERNET Handle() const { return connection_.Get(); }

 private:
  ScopedInternetHandle connection_;
};

class CInternetSession {
 public:
  // No fixed proxy: with INTERNET_OPEN_TYPE_PRECONFIG the system's settings.
  explicit CInternetSession(const std::string& agent,
                            DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG);
  CInternetSession(CInternetSession&&) = default;
  CInternetSession& operator=(CInternetSession&&) = default;

  // A session-wide option whose value is a DWORD (time-outs, for one).
  void SetOption(DWORD option, DWORD value);
  // No user name or password; connection flags 0.
  CHttpConnection GetHttpConnection(const std::string& host,
                                    INTERNET_PORT port, DWORD_PTR context);
  HINTERNET Handle() const { return session_.Get(); }

 private:
  ScopedInternetHandle session_;
};

#endif
