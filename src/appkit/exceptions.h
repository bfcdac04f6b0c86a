// The exception family of the application framework. Exceptions are thrown
// by value and caught by reference to CException; every member can render
// its error text into a caller's buffer.
#ifndef RAVEN_APPKIT_EXCEPTIONS_H
#define RAVEN_APPKIT_EXCEPTIONS_H

#include <string>

class CException {
 public:
  virtual ~CException() = default;
  // Copies at most size - 1 characters of the error text and a terminating
  // zero into buffer. Returns false (and an empty buffer) when there is no
  // text to give.
  bool GetErrorMessage(char* buffer, unsigned size) const;
  virtual std::string ErrorText() const = 0;
};

// A file operation failed; osError is the Windows error code behind it.
class CFileException : public CException {
 public:
  CFileException(unsigned long osError, std::string fileName)
      : osError_(osError), fileName_(std::move(fileName)) {}
  unsigned long OsError() const { return osError_; }
  const std::string& FileName() const { return fileName_; }
  std::string ErrorText() const override;

 private:
  unsigned long osError_;
  std::string fileName_;
};

// A WinINet call failed; error is its GetLastError code (12xxx or a system
// code).
class CInternetException : public CException {
 public:
  explicit CInternetException(unsigned long error) : error_(error) {}
  unsigned long Error() const { return error_; }
  std::string ErrorText() const override;

 private:
  unsigned long error_;
};

class CMemoryException : public CException {
 public:
  std::string ErrorText() const override;
};

class CResourceException : public CException {
 public:
  std::string ErrorText() const override;
};

// The silent abort: whoever catches it shows nothing.
class CUserException : public CException {
 public:
  std::string ErrorText() const override;
};

// The system's text for a Windows error code, without its trailing line
// end; empty when the system has none.
std::string SystemErrorText(unsigned long code);

#endif
