// What the answers of a download mean for its next step: the response head
// as WinINet hands it over (raw, CR LF separated), which failures may pass
// when tried again, how long to wait first, and whether a partial answer
// continues the bytes already kept. Platform-free.
#ifndef RAVEN_FRAMEWORK_DOWNLOAD_RULES_H
#define RAVEN_FRAMEWORK_DOWNLOAD_RULES_H

#include <string>

struct ResponseHead {
  unsigned long status = 0;  // 0: no status line
  bool hasLength = false;
  unsigned long long length = 0;  // saturates far beyond any bound we allow
  // A well-formed "Content-Range: bytes FIRST-LAST/TOTAL" (TOTAL may be "*").
  bool hasRange = false;
  unsigned long long rangeFirst = 0, rangeLast = 0, rangeTotal = 0;
  bool rangeTotalKnown = false;
  std::string etag, lastModified;
  long retryAfter = -1;  // seconds; -1 when absent or given as a date
  std::string proxySchemes;  // of every Proxy-Authenticate, ", " between
};

ResponseHead ParseResponseHead(const std::string& raw);

// WinINet errors of a connection that could not be made, broke or fell
// silent, and our own "closed before its announced length".
bool IsTransientError(unsigned long error);
// 408, 429, 500, 502, 503 and 504: the server says to come back.
bool IsTransientStatus(unsigned long status);

// The pause before retry number `retry` (0 for the first): the first pause,
// doubled each time; a Retry-After wins when it is given, up to 30 s.
unsigned long RetryPauseMs(unsigned retry, long retryAfter, unsigned long firstPauseMs);

// The value for If-Range when continuing what `first` began to send: its
// ETag, else its Last-Modified. Empty: the server gives no way to tell that
// the rest belongs to the same file, so nothing is continued.
std::string ResumeValidator(const ResponseHead& first);
// The request headers asking for the bytes from `kept` on.
std::string RangeHeaders(unsigned long long kept, const std::string& validator);
// True when a 206 continues a file of `total` bytes of which `kept` are
// held: its range starts right there, runs to the end and agrees on the
// total (and on the length, when it gives one).
bool ContinuesAt(const ResponseHead& head, unsigned long long kept, unsigned long long total);

#endif
