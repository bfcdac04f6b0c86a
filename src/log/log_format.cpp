#include "log/log_format.h"

#include <cstdint>

#include "appkit/strings.h"

namespace {

void ReplaceAll(std::string& text, char from, const char* to) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == from)
      out += to;
    else
      out += c;
  }
  text.swap(out);
}

std::string FormatTm(const char* format, const std::tm& local) {
  char buffer[128];
  size_t n = std::strftime(buffer, sizeof buffer, format, &local);
  return std::string(buffer, n);
}

std::string FormatMarker(const char* tag, const std::string& date,
                         const std::string& time,
                         const std::string& application,
                         const std::string& session) {
  return StrFormat("<%s date=\"%s\" time=\"%s\" application=\"%s\" session=\"%s\"/>\n",
                   tag, date.c_str(), time.c_str(),
                   EscapeAttribute(application).c_str(),
                   EscapeAttribute(session).c_str());
}

}  // namespace

std::string EscapeText(const std::string& text) {
  std::string out = text;
  ReplaceAll(out, '&', "&amp;");
  ReplaceAll(out, '<', "&lt;");
  ReplaceAll(out, '>', "&gt;");
  return out;
}

std::string EscapeAttribute(const std::string& text) {
  std::string out = EscapeText(text);
  ReplaceAll(out, '"', "&quot;");
  ReplaceAll(out, '\'', "&apos;");
  return out;
}

std::string FormatLogDate(const std::tm& local) {
  return FormatTm("%m/%d/%Y", local);
}

std::string FormatLogTime(const std::tm& local) {
  return FormatTm("%H:%M:%S", local);
}

std::string FormatBeginRecord(const std::string& date, const std::string& time,
                              const std::string& application,
                              const std::string& session) {
  return FormatMarker("begin", date, time, application, session);
}

std::string FormatEndRecord(const std::string& date, const std::string& time,
                            const std::string& application,
                            const std::string& session) {
  return FormatMarker("end", date, time, application, session);
}

std::string FormatInfoRecord(const std::string& date, const std::string& time,
                             const std::string& section,
                             const std::string& text) {
  return StrFormat("\t<info date=\"%s\" time=\"%s\" section=\"%s\">%s</info>\n",
                   date.c_str(), time.c_str(), EscapeAttribute(section).c_str(),
                   EscapeText(text).c_str());
}

std::string FormatErrorOpening(const std::string& date, const std::string& time,
                               const std::string& section,
                               const std::string& message) {
  return StrFormat(
      "\t<error date=\"%s\" time=\"%s\" section=\"%s\" message=\"%s\">\n",
      date.c_str(), time.c_str(), EscapeAttribute(section).c_str(),
      EscapeAttribute(message).c_str());
}

std::string FormatStatusDetail(unsigned long status,
                               const std::string& systemText) {
  // Windows codes are 32 bits; the cast keeps that width on LP64 hosts too.
  int32_t signedStatus = static_cast<int32_t>(static_cast<uint32_t>(status));
  return StrFormat("\t\t<exception status=\"%d\" message=\"%s\"/>\n",
                   static_cast<int>(signedStatus), systemText.c_str());
}

std::string FormatExceptionDetail(const std::string& exceptionText) {
  return StrFormat("\t\t<exception message=\"%s\"/>\n", exceptionText.c_str());
}

std::string FormatErrorClosing() { return "\t</error>\n"; }

std::string LogFileSddl(bool administrator, const std::string& userSid) {
  const std::string dacl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
  if (administrator) return "O:BA" + dacl;
  return dacl + "(A;;FA;;;" + userSid + ")";
}
