#include "framework/download_rules.h"

#include <cstring>

namespace {

const unsigned long long kSaturated = 1ull << 62;
const unsigned long kMaxRetryAfterSeconds = 30;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Digits from `at` on, saturating; false when there are none.
bool ReadNumber(const std::string& s, size_t& at, unsigned long long& value) {
  const size_t start = at;
  value = 0;
  for (; at < s.size() && IsDigit(s[at]); ++at)
    value = value >= kSaturated ? kSaturated : value * 10 + (s[at] - '0');
  return at > start;
}

// The whole value is one number.
bool WholeNumber(const std::string& value, unsigned long long& number) {
  size_t at = 0;
  return ReadNumber(value, at, number) && at == value.size();
}

bool SameName(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != b[i]) return false;
  }
  return true;
}

// "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*".
void ParseContentRange(const std::string& value, ResponseHead& head) {
  if (value.compare(0, 6, "bytes ") != 0) return;
  size_t at = 6;
  unsigned long long first = 0, last = 0, total = 0;
  if (!ReadNumber(value, at, first) || at >= value.size() || value[at++] != '-' ||
      !ReadNumber(value, at, last) || at >= value.size() || value[at++] != '/' || last < first)
    return;
  bool totalKnown = false;
  if (at + 1 == value.size() && value[at] == '*') {
  } else if (ReadNumber(value, at, total) && at == value.size() && last < total) {
    totalKnown = true;
  } else {
    return;
  }
  head.hasRange = true;
  head.rangeFirst = first, head.rangeLast = last, head.rangeTotal = total;
  head.rangeTotalKnown = totalKnown;
}

void TakeHeader(const std::string& name, const std::string& value, ResponseHead& head) {
  unsigned long long number = 0;
  if (SameName(name, "content-length")) {
    // Two different lengths: no length at all rather than either.
    const bool ok = WholeNumber(value, number) && (!head.hasLength || head.length == number);
    head.hasLength = ok;
    head.length = ok ? number : 0;
  } else if (SameName(name, "content-range")) {
    ParseContentRange(value, head);
  } else if (SameName(name, "etag")) {
    head.etag = value;
  } else if (SameName(name, "last-modified")) {
    head.lastModified = value;
  } else if (SameName(name, "retry-after")) {
    // A date is not worth a clock of our own: the usual pauses serve.
    head.retryAfter = WholeNumber(value, number)
                          ? static_cast<long>(number > 100000 ? 100000 : number) : -1;
  } else if (SameName(name, "proxy-authenticate")) {
    const std::string scheme = value.substr(0, value.find_first_of(" \t,"));
    if (!scheme.empty()) head.proxySchemes += (head.proxySchemes.empty() ? "" : ", ") + scheme;
  }
}

}  // namespace

ResponseHead ParseResponseHead(const std::string& raw) {
  ResponseHead head;
  size_t at = 0;
  for (bool first = true; at < raw.size(); first = false) {
    size_t end = raw.find('\n', at);
    if (end == std::string::npos) end = raw.size();
    std::string line = raw.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) {  // "HTTP/1.1 206 Partial Content"
      size_t space = line.find(' ');
      unsigned long long status = 0;
      if (line.compare(0, 5, "HTTP/") == 0 && space != std::string::npos &&
          ReadNumber(line, ++space, status) && status < 1000)
        head.status = static_cast<unsigned long>(status);
      continue;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    TakeHeader(line.substr(0, colon), Trimmed(line.substr(colon + 1)), head);
  }
  return head;
}

bool IsTransientError(unsigned long error) {
  switch (error) {
    case 12002:  // ERROR_INTERNET_TIMEOUT
    case 12029:  // ERROR_INTERNET_CANNOT_CONNECT
    case 12030:  // ERROR_INTERNET_CONNECTION_ABORTED
    case 12031:  // ERROR_INTERNET_CONNECTION_RESET
    case 12152:  // ERROR_HTTP_INVALID_SERVER_RESPONSE: closed before the headers
    case 38:     // ERROR_HANDLE_EOF: closed before the announced length
      return true;
    default:
      return false;
  }
}

bool IsTransientStatus(unsigned long status) {
  return status == 408 || status == 429 || status == 500 || status == 502 ||
         status == 503 || status == 504;
}

unsigned long RetryPauseMs(unsigned retry, long retryAfter, unsigned long firstPauseMs) {
  if (retryAfter >= 0)
    return 1000ul * (static_cast<unsigned long>(retryAfter) < kMaxRetryAfterSeconds
                         ? static_cast<unsigned long>(retryAfter) : kMaxRetryAfterSeconds);
  return firstPauseMs << (retry < 8 ? retry : 8);
}

std::string ResumeValidator(const ResponseHead& first) {
  // A weak tag may not be used with If-Range.
  if (!first.etag.empty() && first.etag.compare(0, 2, "W/") != 0) return first.etag;
  return first.lastModified;
}

std::string RangeHeaders(unsigned long long kept, const std::string& validator) {
  return "Range: bytes=" + std::to_string(kept) + "-\r\nIf-Range: " + validator + "\r\n";
}

bool ContinuesAt(const ResponseHead& head, unsigned long long kept, unsigned long long total) {
  return head.status == 206 && head.hasRange && head.rangeFirst == kept &&
         head.rangeTotalKnown && head.rangeTotal == total && head.rangeLast + 1 == total &&
         (!head.hasLength || head.length == total - kept);
}
