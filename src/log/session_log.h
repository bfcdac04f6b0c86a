// The XML session log in the Windows folder. Each record is written on its
// own (open, append, flush, close) under one process-wide mutex; a record
// whose file cannot be opened or written is dropped without trace, and no
// operation ever throws.
#ifndef RAVEN_LOG_SESSION_LOG_H
#define RAVEN_LOG_SESSION_LOG_H

#include <string>
#include <vector>

class CException;

class CSessionLog {
 public:
  // Reads the Windows folder; writes nothing.
  CSessionLog(std::string application, std::string session);

  void WriteBegin();
  void WriteEnd();
  void WriteInfo(std::string section, std::string text);
  void WriteError(std::string section, std::string message,
                  unsigned long status);
  void WriteError(std::string section, std::string message,
                  const CException& exception);

  // For the program's end: waits up to timeoutMs until no thread is inside
  // a record and keeps every later one out, so the process can end without
  // cutting a record in half. Never undone.
  static void HoldForProcessEnd(unsigned long timeoutMs);

  // The file the records go to (folder and name joined); empty when the
  // joined path does not fit.
  std::string FilePath() const;

  // The descriptor a log file this run creates gets, as text (owner and
  // DACL); empty when it could not be built (the file is then created
  // without one, as the log never stops the run).
  std::string FileSecurityText() const;

 private:
  std::string application_;
  std::string session_;
  std::string folder_;
  // Self-relative; applied only when a record creates the file: an
  // existing log is appended to as it is.
  std::vector<unsigned char> descriptor_;
};

#endif
