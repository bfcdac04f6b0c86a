// The two parameter blocks through which the wizard hands work to a worker
// thread and reads its outcome back. The wizard owns both; workers borrow.
#ifndef RAVEN_WORKER_PARAMS_H
#define RAVEN_WORKER_PARAMS_H

#include <windows.h>
#include <wininet.h>

#include <string>

#include "worker/wizard_owner.h"

const unsigned long kDownloadTimeoutMs = 60000;
const unsigned long kDownloadRetryPauseMs = 2000;

// The flags are written by the window's thread and polled by a worker: they
// are one byte each and read through volatile so every poll sees the latest
// value (a plain x86 byte store/load is atomic).
struct DownloadParams {
  HWND window = nullptr;
  std::string host;
  unsigned short port = 0;
  std::string objectPath;
  std::string localFile;
  WizardOwner* owner = nullptr;
  unsigned long statusCode = 0;
  volatile bool cancelRequested = false;
  volatile bool failed = false;
  // The pins (hex SHA-256, white-space separated) of which the downloaded
  // file must match one, from LoadPinnedRedistHash(); empty fails every
  // download.
  std::string expectedSha256;
  // How long connecting, or waiting for the next bytes, may take before the
  // attempt fails.
  unsigned long timeoutMs = kDownloadTimeoutMs;
  // The pause before the first retry of a failure that may pass; doubled
  // for each further one.
  unsigned long retryPauseMs = kDownloadRetryPauseMs;
};

struct ProcessParams {
  HWND window = nullptr;  // null: the worker sends no messages
  std::string programPath;
  std::string commandLine;
  std::string folder;
  // Not empty: TMP and TEMP while the program starts (the framework's
  // redistributable unpacks there), a folder made for it inside the work
  // folder; the process's own values are back once it has started.
  std::string tempFolder;
  unsigned long exitCode = 0;
  WizardOwner* owner = nullptr;
  volatile bool stop = false;
  volatile bool failed = false;
};

#endif
