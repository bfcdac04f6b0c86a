// The text of session log records, kept free of Windows so that escaping
// and layout are tested natively. Callers supply the date and time already
// formatted; the Windows side only reads the clock and writes the file.
#ifndef RAVEN_LOG_LOG_FORMAT_H
#define RAVEN_LOG_LOG_FORMAT_H

#include <ctime>
#include <string>

// Element content: "&" first, so the entities inserted for "<" and ">" are
// not escaped a second time.
std::string EscapeText(const std::string& text);
// Attribute values: EscapeText, then both quote characters.
std::string EscapeAttribute(const std::string& text);

// "%m/%d/%Y" and "%H:%M:%S" of a broken-down local time.
std::string FormatLogDate(const std::tm& local);
std::string FormatLogTime(const std::tm& local);

// Whole records. Every argument is taken raw and escaped here, except the
// system and exception texts, which the log stores as the system gave them.
std::string FormatBeginRecord(const std::string& date, const std::string& time,
                              const std::string& application,
                              const std::string& session);
std::string FormatEndRecord(const std::string& date, const std::string& time,
                            const std::string& application,
                            const std::string& session);
std::string FormatInfoRecord(const std::string& date, const std::string& time,
                             const std::string& section,
                             const std::string& text);

// An error record is written in three parts so that a failure on the
// detail line can be absorbed while the record still gets its closing tag.
std::string FormatErrorOpening(const std::string& date, const std::string& time,
                               const std::string& section,
                               const std::string& message);
// The status is a Windows error code; codes with the top bit set (HRESULTs)
// read as negative numbers, which is how such codes are usually quoted.
std::string FormatStatusDetail(unsigned long status,
                               const std::string& systemText);
std::string FormatExceptionDetail(const std::string& exceptionText);
std::string FormatErrorClosing();

// The descriptor a log file this run creates gets: SYSTEM and the
// Administrators only, nothing inherited, so no user can read the run's
// paths or hold the file (an opportunistic lock on it would stop every
// thread of the run at its next record). Elevated, the Administrators own
// it; unelevated, the user (userSid, non-empty) is added, or the run could
// not write its own second record.
std::string LogFileSddl(bool administrator, const std::string& userSid);

#endif
