#include "appkit/file.h"

#include "appkit/exceptions.h"

CFile::~CFile() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

void CFile::Open(const std::string& path, unsigned flags) {
  Close();
  DWORD access = GENERIC_READ;
  if (flags & modeWrite) access = GENERIC_WRITE;
  if (flags & modeReadWrite) access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if (flags & modeCreate) disposition = (flags & modeCreateNew) ? CREATE_NEW : CREATE_ALWAYS;
  HANDLE h = CreateFileA(path.c_str(), access, 0, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw CFileException(GetLastError(), path);
  handle_ = h;
  path_ = path;
}

void CFile::Write(const void* data, unsigned long size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(handle_, p, size, &written, nullptr) || written == 0)
      throw CFileException(GetLastError(), path_);
    p += written;
    size -= written;
  }
}

void CFile::Flush() {
  if (!FlushFileBuffers(handle_)) throw CFileException(GetLastError(), path_);
}

void CFile::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  HANDLE h = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  if (!CloseHandle(h)) throw CFileException(GetLastError(), path_);
}
