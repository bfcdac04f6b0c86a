#include "log/session_log.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <sddl.h>
#include <shlwapi.h>
#include <stdio.h>

#include <ctime>
#include <functional>

#include "app/elevation.h"
#include "appkit/exceptions.h"
#include "appkit/strings.h"
#include "appkit/user_sid.h"
#include "log/log_format.h"

namespace {

// Created before main code runs so that the first records of two threads
// cannot race to create it. It is deliberately never closed here: worker
// threads are not joined and may still log while static destructors run,
// and a closed (or recycled) handle would let their records interleave.
// The system closes it with the process.
const HANDLE g_logMutex = CreateMutexA(nullptr, FALSE, nullptr);

class MutexLock {
 public:
  explicit MutexLock(HANDLE mutex) : mutex_(mutex) {
    // WAIT_ABANDONED still hands over ownership: a thread that died
    // mid-record must not stop the log for the rest of the run.
    if (mutex_ != nullptr) WaitForSingleObject(mutex_, INFINITE);
  }
  ~MutexLock() {
    if (mutex_ != nullptr) ReleaseMutex(mutex_);
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  HANDLE mutex_;
};

// The system's text for an error code, in the buffer FormatMessageA
// allocates; released by its owner.
class SystemText {
 public:
  explicit SystemText(unsigned long status) {
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                 FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, status,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<char*>(&buffer_), 0, nullptr);
    size_ = n;
  }
  ~SystemText() {
    if (buffer_ != nullptr) LocalFree(buffer_);
  }
  SystemText(const SystemText&) = delete;
  SystemText& operator=(const SystemText&) = delete;
  std::string Text() const {
    return buffer_ != nullptr ? std::string(buffer_, size_) : std::string();
  }

 private:
  char* buffer_ = nullptr;
  DWORD size_ = 0;
};

// Neither a reparse point (symbolic link, junction) nor a file with a second
// name elsewhere (hard link).
bool IsPlainFile(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
         info.nNumberOfLinks <= 1;
}

// The log file for one record, opened in text mode so that every LF the
// program writes is stored as CR LF, whatever its source.
class LogFile {
 public:
  LogFile(const std::string& path, const std::vector<unsigned char>& descriptor)
      : path_(path) {
    Open(descriptor);
  }
  ~LogFile() {
    if (file_ != nullptr) fclose(file_);
  }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  bool IsOpen() const { return file_ != nullptr; }

  // A failed append leaves the file open: the error record still appends
  // its closing tag after a failed detail line. The destructor closes it
  // when the exception leaves the record.
  void Append(const std::string& text) {
    if (fwrite(text.data(), 1, text.size(), file_) != text.size()) Throw();
  }

  // Flushes and closes; a failure here (typically a full disk) loses the
  // record.
  void Close() {
    if (fflush(file_) != 0) Throw();
    FILE* f = file_;
    file_ = nullptr;
    if (fclose(f) != 0) Throw();
  }

 private:
  void Open(const std::vector<unsigned char>& descriptor) {
    if (path_.empty()) return;
    SECURITY_ATTRIBUTES security = {sizeof security, nullptr, FALSE};
    if (!descriptor.empty())
      security.lpSecurityDescriptor = const_cast<unsigned char*>(descriptor.data());
    // No sharing: while this record is written nobody else writes the file.
    // The Windows folder's log is appended to with our rights: a link
    // someone put in its place would have us write wherever it points.
    HANDLE h = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, &security, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    if (!IsPlainFile(h)) {
      CloseHandle(h);
      return;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_TEXT | _O_APPEND);
    if (fd == -1) {
      CloseHandle(h);
      return;
    }
    FILE* f = _fdopen(fd, "at");
    if (f == nullptr) {
      _close(fd);
      return;
    }
    if (fseek(f, 0, SEEK_END) != 0) {
      fclose(f);
      return;
    }
    file_ = f;
  }

  [[noreturn]] void Throw() {
    DWORD code = GetLastError();
    throw CFileException(code != 0 ? code : ERROR_WRITE_FAULT, path_);
  }

  std::string path_;
  FILE* file_ = nullptr;
};

struct Stamp {
  std::string date;
  std::string time;
};

// The local time through the Windows clock: the C runtime's 64-bit time
// functions are missing on Windows 2000 and its 32-bit time_t ends in 2038.
Stamp ReadClock() {
  FILETIME utc, local;
  SYSTEMTIME st;
  GetSystemTimeAsFileTime(&utc);
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st))
    return Stamp();
  std::tm tm = {};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_wday = st.wDayOfWeek;
  return Stamp{FormatLogDate(tm), FormatLogTime(tm)};
}

using RecordBody = std::function<void(LogFile&, const Stamp&)>;

// One record under the log mutex: open, let body append, flush, close.
// The log is a record of the run, never part of it: a file that cannot be
// opened or written (a full disk) costs this record and nothing else, so
// no caller ever sees a failure and none can be stopped half-way by one.
void AppendRecord(const CSessionLog& log, const std::vector<unsigned char>& descriptor,
                  const RecordBody& body) {
  MutexLock lock(g_logMutex);
  try {
    LogFile file(log.FilePath(), descriptor);
    if (!file.IsOpen()) return;
    Stamp stamp = ReadClock();
    body(file, stamp);
    file.Close();
  } catch (...) {
  }
}

// The detail line of an error record: whatever goes wrong while producing
// or appending it, the record still gets its closing tag.
void AppendErrorDetail(LogFile& file, const std::function<std::string()>& detail) {
  try {
    file.Append(detail());
  } catch (...) {
  }
  file.Append(FormatErrorClosing());
}

}  // namespace

CSessionLog::CSessionLog(std::string application, std::string session)
    : application_(std::move(application)), session_(std::move(session)) {
  char folder[MAX_PATH] = {};
  UINT n = GetWindowsDirectoryA(folder, MAX_PATH);
  if (n > 0 && n < MAX_PATH) folder_ = folder;
  const bool administrator = IsAdministrator();
  const std::string user = administrator ? std::string() : UserSidString();
  PSECURITY_DESCRIPTOR built = nullptr;
  if ((administrator || !user.empty()) &&
      ConvertStringSecurityDescriptorToSecurityDescriptorA(
          LogFileSddl(administrator, user).c_str(), SDDL_REVISION_1, &built, nullptr)) {
    const unsigned char* bytes = static_cast<const unsigned char*>(built);
    descriptor_.assign(bytes, bytes + GetSecurityDescriptorLength(built));
    LocalFree(built);
  }
}

std::string CSessionLog::FileSecurityText() const {
  char* text = nullptr;
  if (descriptor_.empty() ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(
          const_cast<unsigned char*>(descriptor_.data()), SDDL_REVISION_1,
          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
    return std::string();
  const std::string sddl = text;
  LocalFree(text);
  return sddl;
}

void CSessionLog::HoldForProcessEnd(unsigned long timeoutMs) {
  // Taken and never released: the process ends while holding it.
  if (g_logMutex != nullptr) WaitForSingleObject(g_logMutex, timeoutMs);
}

std::string CSessionLog::FilePath() const {
  // Without the Windows folder the name alone would land in whatever the
  // current folder happens to be.
  if (folder_.empty()) return std::string();
  std::string name = StrFormat("%s_%s.log.tmp", application_.c_str(), "Setup");
  char path[MAX_PATH] = {};
  if (PathCombineA(path, folder_.c_str(), name.c_str()) == nullptr)
    return std::string();
  return path;
}

void CSessionLog::WriteBegin() {
  AppendRecord(*this, descriptor_, [this](LogFile& file, const Stamp& s) {
    file.Append(FormatBeginRecord(s.date, s.time, application_, session_));
  });
}

void CSessionLog::WriteEnd() {
  AppendRecord(*this, descriptor_, [this](LogFile& file, const Stamp& s) {
    file.Append(FormatEndRecord(s.date, s.time, application_, session_));
  });
}

void CSessionLog::WriteInfo(std::string section, std::string text) {
  AppendRecord(*this, descriptor_, [&](LogFile& file, const Stamp& s) {
    file.Append(FormatInfoRecord(s.date, s.time, section, text));
  });
}

void CSessionLog::WriteError(std::string section, std::string message,
                             unsigned long status) {
  // Fetched outside the mutex so that other threads' records do not wait
  // on the system's message tables; released after the mutex.
  SystemText systemText(status);
  AppendRecord(*this, descriptor_, [&](LogFile& file, const Stamp& s) {
    file.Append(FormatErrorOpening(s.date, s.time, section, message));
    AppendErrorDetail(file, [&] {
      return FormatStatusDetail(status, systemText.Text());
    });
  });
}

void CSessionLog::WriteError(std::string section, std::string message,
                             const CException& exception) {
  AppendRecord(*this, descriptor_, [&](LogFile& file, const Stamp& s) {
    file.Append(FormatErrorOpening(s.date, s.time, section, message));
    AppendErrorDetail(file, [&] {
      char text[2048];
      exception.GetErrorMessage(text, sizeof text);
      return FormatExceptionDetail(text);
    });
  });
}
