// The framework's file class: every failure throws CFileException.
#ifndef RAVEN_APPKIT_FILE_H
#define RAVEN_APPKIT_FILE_H

#include <windows.h>

#include <string>

class CFile {
 public:
  enum OpenFlags : unsigned {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,
    modeCreate = 0x1000,
    // With modeCreate: the file must not exist yet (CREATE_NEW); one that
    // does fails the open like any other refused open.
    modeCreateNew = 0x10000,
  };

  CFile() = default;
  // Opens or throws. modeCreate|modeWrite (0x1001) creates or replaces the
  // file for writing; no open shares the file with other openers.
  CFile(const std::string& path, unsigned flags) { Open(path, flags); }
  ~CFile();
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  void Open(const std::string& path, unsigned flags);
  void Write(const void* data, unsigned long size);
  void Flush();
  void Close();
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  std::string path_;
};

#endif
