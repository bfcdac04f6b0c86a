// The framework download worker: fetches the redistributable over HTTP into
// the work folder, reporting progress and its end to the wizard window. A
// failure that may pass is tried again, continuing a cut body where it
// stopped; a proxy that asks for credentials gets them from the user.
#include <windows.h>
#include <shlwapi.h>
#include <wininet.h>

#include <string>

#include "appkit/app.h"
#include "appkit/exceptions.h"
#include "appkit/file.h"
#include "appkit/internet.h"
#include "appkit/strings.h"
#include "framework/detection.h"
#include "framework/download_rules.h"
#include "framework/sha256.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "resource_ids.h"
#include "worker/messages.h"
#include "worker/params.h"

namespace {

const char kSection[] = "BootStrap";
const char kErrorMessage[] = "An error occurred while downloading .net";
// A stale or planted cache entry is never served, and the download does
// not land in the browser's cache either. A host that moved to HTTPS is
// followed there: the pin decides what runs, not the scheme.
const DWORD kRequestFlags = 0x20000000 |  // INTERNET_FLAG_EXISTING_CONNECT
                            0x80000000 |  // INTERNET_FLAG_RELOAD
                            0x04000000 |  // INTERNET_FLAG_NO_CACHE_WRITE
                            0x00000100 |  // INTERNET_FLAG_PRAGMA_NOCACHE
                            0x00004000;   // INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
static_assert(kRequestFlags == (INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS),
              "request flags every WinINet since Windows 2000 knows");
// The system's proxy password dialog, for the request's 407.
const DWORD kCredentialsError = 12014;  // ERROR_INTERNET_INCORRECT_PASSWORD
const DWORD kForceRetry = 12032;        // ERROR_INTERNET_FORCE_RETRY
const DWORD kDialogFlags = 0x01 | 0x02 | 0x04;  // filter for errors, change options, generate data
static_assert(kCredentialsError == ERROR_INTERNET_INCORRECT_PASSWORD &&
                  kForceRetry == ERROR_INTERNET_FORCE_RETRY &&
                  kDialogFlags == (FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                                   FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                                   FLAGS_ERROR_UI_FLAGS_GENERATE_DATA),
              "credentials dialog values");
const int kMaxPrompts = 3;
const unsigned kMaxRetries = 3;
// A body that brings less than this within the time-out fails as a time-out
// does: a byte now and then must not hold the wizard in its download step.
const DWORD kMinBytesPerTimeout = 1024;
// Progress reaches the window this often at most: one cross-thread message
// per read cost more than the transfer itself.
const DWORD kProgressEveryMs = 100;

// The file being downloaded: what of it is kept, and the hash of that.
// Opened at the first body, so that an answer without one leaves no file.
class Body {
 public:
  explicit Body(const std::string& path) : path_(path) {}
  void Restart() {
    if (file_.IsOpen()) file_.Close();
    file_.Open(path_, CFile::modeCreate | CFile::modeWrite);
    sha_ = Sha256();
    kept = 0;
  }
  void Append(const char* data, DWORD size) {
    file_.Write(data, size);
    sha_.Update(data, size);
    kept += size;
  }
  // Closes the file; the digest of everything kept.
  std::string Finish() {
    if (!file_.IsOpen()) return std::string();
    file_.Flush();
    file_.Close();
    return sha_.FinalHex();
  }
  bool IsOpen() const { return file_.IsOpen(); }

  DWORD kept = 0;
  DWORD total = 0;  // of the whole file: the first full answer's length
  bool totalKnown = false;
  std::string validator;  // for If-Range; empty: never continued

 private:
  std::string path_;
  CFile file_;
  Sha256 sha_;
};

// How one attempt ended.
struct Attempt {
  enum Kind { kComplete, kCut, kAnswered, kCancelled } kind = kAnswered;
  DWORD error = 0;      // why it was cut
  long retryAfter = -1;
  bool overflow = false;
};

// The executable's file name without its extension, as the server sees it.
std::string UserAgent() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(AfxGetInstanceHandle(), path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::string();
  char* name = PathFindFileNameA(path);
  PathRemoveExtensionA(name);
  return name;
}

void SendProgress(HWND window, DWORD received, DWORD length) {
  SendMessageA(window, WM_DOWNLOAD_PROGRESS, received, length);
}

// A 407 in the wizard: the system's dialog, owned by the wizard window,
// asks for the proxy's credentials and stores them with the session; the
// request is then sent again. Returns the head of the last answer. Without
// a window nothing can be asked: the record names what the proxy offered.
ResponseHead SendWithCredentials(DownloadParams& params, CSessionLog* log,
                                 CInternetSession& http, const std::string& headers) {
  http.SendRequest(headers, 2 * params.timeoutMs);
  ResponseHead head = ParseResponseHead(http.RawHeaders());
  for (int prompts = 0; head.status == 407; ++prompts) {
    if (params.window == nullptr || prompts == kMaxPrompts) {
      log->WriteInfo(kSection, StrFormat("Downloading .net : The proxy asks for credentials (%s)%s",
                                         head.proxySchemes.c_str(),
                                         params.window == nullptr ? " and no window can ask for them"
                                                                  : ", refused three times"));
      throw CInternetException(kCredentialsError);
    }
    // The answer's own body goes first, or the next send finds it in the way.
    while (http.Read(params.timeoutMs) != 0) {
    }
    const DWORD answer = http.ErrorDialog(params.window, kCredentialsError, kDialogFlags);
    // Cancel returns ERROR_CANCELLED on Windows and 0 on some others.
    if (answer != kForceRetry) {
      log->WriteInfo(kSection, "Downloading .net : The proxy credentials were not given");
      throw CInternetException(ERROR_CANCELLED);
    }
    http.SendRequest(headers, 2 * params.timeoutMs);
    head = ParseResponseHead(http.RawHeaders());
  }
  return head;
}

// Takes the answer's body into `body`: after what is kept when the answer
// continues it, from zero otherwise. Returns how the transfer ended; the
// bytes of a read after Cancel, or beyond the announced length (or the
// limit without one), are dropped.
Attempt ReceiveBody(DownloadParams& params, CInternetSession& http, const ResponseHead& head,
                    Body& body) {
  Attempt a;
  if (head.hasLength && head.length > kMaxRedistributableBytes) {
    a.kind = Attempt::kComplete;
    a.overflow = true;
    return a;
  }
  const bool continues = body.kept > 0 && ContinuesAt(head, body.kept, body.total);
  if (head.status == 206 && !continues) {
    // Some other part of some file: the next attempt asks for all of it.
    body.kept = 0;
    body.validator.clear();
    a.kind = Attempt::kCut;
    a.error = ERROR_HTTP_INVALID_SERVER_RESPONSE;
    return a;
  }
  if (!continues) {
    body.Restart();
    body.totalKnown = head.hasLength;
    body.total = head.hasLength ? static_cast<DWORD>(head.length) : 0;
    body.validator = ResumeValidator(head);
  }
  const DWORD limit = body.totalKnown ? body.total : kMaxRedistributableBytes;
  SendProgress(params.window, body.kept, body.total);
  DWORD sentAt = GetTickCount(), windowStart = sentAt, windowBytes = 0, sent = body.kept;
  // What the window shows is brought up to date before a read waits: the
  // bar must not stand still behind what has arrived.
  const auto catchUp = [&] {
    if (sent != body.kept) SendProgress(params.window, sent = body.kept, body.total);
  };
  for (;;) {
    DWORD n = 0;
    try {
      // A read waits at most until the current time-out window is over.
      const DWORD spent = GetTickCount() - windowStart;
      n = http.Read(spent < params.timeoutMs ? params.timeoutMs - spent : 1, catchUp);
    } catch (const CUserException&) {
      a.kind = Attempt::kCancelled;
      return a;
    } catch (const CInternetException& e) {
      if (!IsTransientError(e.Error())) throw;
      a.kind = Attempt::kCut;
      a.error = e.Error();
      return a;
    }
    if (params.cancelRequested) {
      a.kind = Attempt::kCancelled;
      return a;
    }
    if (n == 0) {
      if (body.totalKnown && body.kept < body.total) {
        a.kind = Attempt::kCut;
        a.error = ERROR_HANDLE_EOF;
        return a;
      }
      SendProgress(params.window, body.total, body.total);
      a.kind = Attempt::kComplete;
      return a;
    }
    if (n > limit - body.kept) {
      a.kind = Attempt::kComplete;
      a.overflow = true;
      return a;
    }
    body.Append(http.Data(), n);
    windowBytes += n;
    if (windowBytes >= kMinBytesPerTimeout) {
      windowStart = GetTickCount();
      windowBytes = 0;
    } else if (GetTickCount() - windowStart >= params.timeoutMs) {
      a.kind = Attempt::kCut;
      a.error = ERROR_INTERNET_TIMEOUT;
      return a;
    }
    if (GetTickCount() - sentAt >= kProgressEveryMs) {
      SendProgress(params.window, sent = body.kept, body.total);
      sentAt = GetTickCount();
    }
  }
}

// One request: its answer's status lands in the block; a body is taken
// into `body`. Network failures throw.
Attempt RunAttempt(DownloadParams& params, CSessionLog* log, Body& body, bool& announced) {
  CInternetSession http(UserAgent(), &params.cancelRequested);
  // A server that stops sending must not hold the wizard in its download
  // step: WinINet's own limits bound what it does in the background.
  http.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, params.timeoutMs);
  http.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, params.timeoutMs);
  // WinINet would try a failing connect several times, each with the full
  // time-out: the retries are ours.
  http.SetOption(INTERNET_OPTION_CONNECT_RETRIES, 1);
  http.Connect(params.host, params.port);
  if (!announced) log->WriteInfo(kSection, "Downloading .net : Connected to server");
  announced = true;
  http.OpenRequest("GET", params.objectPath, "HTTP/1.0", kRequestFlags);
  const bool resume = body.kept > 0 && !body.validator.empty();
  const ResponseHead head =
      SendWithCredentials(params, log, http, resume ? RangeHeaders(body.kept, body.validator) : "");
  if (head.status != 0) params.statusCode = head.status;
  Attempt a;
  // Any other answer is the server's, not a fault of ours: the step
  // machine judges the status.
  if (params.statusCode < 200 || params.statusCode > 299) {
    a.retryAfter = head.retryAfter;
    return a;
  }
  log->WriteInfo(kSection, "Downloading .net : Downloading resource");
  a = ReceiveBody(params, http, head, body);
  log->WriteInfo(kSection, "Downloading .net : Resource downloaded");
  return a;
}

// Waits out the pause before the next attempt, saying so on the status
// line; false when Cancel came first.
bool PauseBeforeRetry(DownloadParams& params, DWORD pauseMs) {
  const unsigned seconds = static_cast<unsigned>((pauseMs + 999) / 1000);
  if (params.window != nullptr)
    params.owner->SetStatusText(StrFormat(LoadResString(IDS_DOWNLOAD_RETRY).c_str(), seconds));
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < pauseMs) {
    if (params.cancelRequested) return false;
    Sleep(50);
  }
  if (params.window != nullptr) params.owner->SetStatusText(LoadResString(IDS_DOWNLOADING));
  return !params.cancelRequested;
}

void RejectDownload(DownloadParams& params, CSessionLog* log, DWORD code) {
  log->WriteError(kSection, kErrorMessage, code);
  params.failed = true;
  DeleteFileA(params.localFile.c_str());
}

void Download(DownloadParams& params, CSessionLog* log) {
  SetInternetOnline();
  Body body(params.localFile);
  bool announced = false, hashRetried = false;
  // retry counts the failures that may pass; a damaged body is not one.
  for (unsigned retry = 0;;) {
    Attempt a;
    try {
      a = RunAttempt(params, log, body, announced);
    } catch (const CInternetException& e) {
      if (params.cancelRequested || !IsTransientError(e.Error()) || retry == kMaxRetries) throw;
      a.kind = Attempt::kCut;
      a.error = e.Error();
    }
    if (a.kind == Attempt::kCancelled || params.cancelRequested) {
      if (body.IsOpen()) body.Finish();
      return;
    }
    const bool answered = a.kind == Attempt::kAnswered;
    if (a.kind == Attempt::kComplete) {
      const std::string digest = body.Finish();
      if (a.overflow) return RejectDownload(params, log, ERROR_FILE_TOO_LARGE);
      if (DigestMatchesAnyPin(digest, params.expectedSha256)) return;
      // A body damaged on its way: once more, from zero.
      if (hashRetried) return RejectDownload(params, log, ERROR_INVALID_DATA);
      hashRetried = true;
      log->WriteInfo(kSection, "Downloading .net : The file matches no pinned hash, downloading it again");
      body.kept = 0;
      continue;
    }
    if ((answered && !IsTransientStatus(params.statusCode)) || retry == kMaxRetries) {
      if (a.kind == Attempt::kCut) {
        body.Finish();
        RejectDownload(params, log, a.error);
      }
      return;
    }
    const DWORD pause = RetryPauseMs(retry, a.retryAfter, params.retryPauseMs);
    log->WriteInfo(kSection,
                   StrFormat("Downloading .net : Attempt %u of %u failed (%s %lu), %lu bytes kept, "
                             "trying again in %lu ms",
                             retry + 1, kMaxRetries + 1, answered ? "status" : "error",
                             answered ? params.statusCode : a.error,
                             static_cast<unsigned long>(body.kept), pause));
    if (!PauseBeforeRetry(params, pause)) {
      if (body.IsOpen()) body.Finish();
      return;
    }
    params.statusCode = 0;
    ++retry;
  }
}

// The end message is the last touch of the block: once it is handled the
// wizard may refill or drop the block, so what follows uses copies only.
void ReportEnd(DownloadParams& params, CSessionLog* log) {
  HWND window = params.window;
  LPARAM block = reinterpret_cast<LPARAM>(&params);
  if (params.cancelRequested)
    PostMessageA(window, WM_WORKER_CANCELLED, 0, block);
  else
    SendMessageA(window, WM_DOWNLOAD_DONE, 0, block);
  log->WriteInfo(kSection, "Terminating .net download thread");
}

// The error record of a failed download. A log that cannot be written
// (the disk that failed the download is often the log's too) must not keep
// the end message from the wizard, which would wait in step 3 for ever.
void RecordFailure(CSessionLog* log, const CException* e, DWORD error) {
  try {
    if (e != nullptr)
      log->WriteError(kSection, kErrorMessage, *e);
    else
      log->WriteError(kSection, kErrorMessage, error);
  } catch (...) {
  }
}

void RunDownload(DownloadParams& params) {
  CSessionLog* log = params.owner->GetSessionLog();
  // Outside 200..299, so a status that is never read counts as a failure.
  params.statusCode = 0;
  // Everything up to the end message is guarded: whatever fails, the wizard
  // must still hear that the worker ended.
  try {
    log->WriteInfo(kSection,
                   StrFormat("Starting .net download thread for : "
                             "\"http://%s:%d/%s\", local file : \"%s\"",
                             params.host.c_str(), params.port,
                             params.objectPath.c_str(),
                             params.localFile.c_str()));
    Download(params, log);
  } catch (const CException& e) {
    // A call that failed because Cancel was pressed is the cancellation,
    // not a failed download.
    if (!params.cancelRequested) {
      params.failed = true;
      RecordFailure(log, &e, GetLastError());
    }
    DeleteFileA(params.localFile.c_str());
  } catch (...) {
    if (!params.cancelRequested) {
      params.failed = true;
      RecordFailure(log, nullptr, GetLastError());
    }
    DeleteFileA(params.localFile.c_str());
  }
  ReportEnd(params, log);
}

}  // namespace

void CancelDownload(DownloadParams& params) { params.cancelRequested = true; }

DWORD WINAPI DownloadWorker(LPVOID downloadParams) {
  // An exception must not unwind into the system's thread start; by this
  // point RunDownload has recorded every failure of the download itself.
  try {
    RunDownload(*static_cast<DownloadParams*>(downloadParams));
  } catch (...) {
  }
  return 0;
}
