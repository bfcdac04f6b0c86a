// The framework download worker: fetches the redistributable over HTTP into
// the work folder, reporting progress and its end to the wizard window.
#include <windows.h>
#include <shlwapi.h>
#include <wininet.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "appkit/app.h"
#include "appkit/exceptions.h"
#include "appkit/file.h"
#include "appkit/internet.h"
#include "appkit/strings.h"
#include "framework/detection.h"
#include "framework/sha256.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "worker/messages.h"
#include "worker/params.h"

namespace {

const char kSection[] = "BootStrap";
const char kErrorMessage[] = "An error occurred while downloading .net";
const DWORD kReadBufferSize = 65536;
const DWORD_PTR kContext = 1;
// A stale or planted cache entry is never served, and the download does
// not land in the browser's cache either.
const DWORD kRequestFlags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_RELOAD |
                            INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_PRAGMA_NOCACHE;
// A body that brings less than this within the time-out fails as a time-out
// does: a byte now and then must not hold the wizard in its download step.
const DWORD kMinBytesPerTimeout = 1024;

// What the body transfer left behind, judged once the file is closed.
struct Transfer {
  DWORD length = 0;  // the announced Content-Length, 0 without one
  bool lengthAnnounced = false;
  DWORD received = 0;
  bool cancelled = false;
  bool overflow = false;  // more bytes came than announced or allowed
  std::string digest;
};

// Lends the request to Cancel for as long as it may block (see
// DownloadParams::request); on leaving, takes it back unless Cancel took
// it, so it is closed exactly once.
class CancelHook {
 public:
  CancelHook(DownloadParams& params, CHttpFile& request) : params_(params), request_(request) {
    params_.request.store(request.Handle());
  }
  ~CancelHook() {
    if (params_.request.exchange(nullptr) == nullptr) (void)request_.Release();
  }
  CancelHook(const CancelHook&) = delete;
  CancelHook& operator=(const CancelHook&) = delete;

 private:
  DownloadParams& params_;
  CHttpFile& request_;
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

// The announced Content-Length, read as text: a number beyond 32 bits must
// not wrap to a small one. Saturates; false when there is none.
bool AnnouncedLength(CHttpFile& request, unsigned long long* length) {
  std::string text;
  if (!request.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, text, 32)) return false;
  size_t at = text.find_first_not_of(' ');
  if (at == std::string::npos || text[at] < '0' || text[at] > '9') return false;
  *length = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
    *length = *length > 0xFFFFFFFFull ? *length : *length * 10 + (text[at] - '0');
  return true;
}

// Reads the body chunk by chunk into the local file, hashing what is
// written so the file need not be read back. A chunk read after Cancel was
// pressed is dropped, and so is one that would take the file past its
// announced length (or the limit without one): the transfer ends there.
Transfer ReceiveBody(DownloadParams& params, CHttpFile& request) {
  Transfer t;
  unsigned long long announced = 0;
  t.lengthAnnounced = AnnouncedLength(request, &announced);
  // More than any redistributable: refused before a file is made.
  if (t.lengthAnnounced && announced > kMaxRedistributableBytes) {
    t.overflow = true;
    return t;
  }
  t.length = static_cast<DWORD>(announced);
  const DWORD limit = t.lengthAnnounced ? t.length : kMaxRedistributableBytes;
  SendProgress(params.window, 0, t.length);
  CFile file(params.localFile, CFile::modeCreate | CFile::modeWrite);
  std::vector<char> buffer(kReadBufferSize);
  Sha256 sha;
  DWORD windowStart = GetTickCount(), windowBytes = 0;
  for (;;) {
    // A read waits at most until the current time-out window is over.
    const DWORD elapsed = GetTickCount() - windowStart;
    DWORD n = 0;
    try {
      request.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT,
                        elapsed < params.timeoutMs ? params.timeoutMs - elapsed : 1);
      n = request.Read(buffer.data(), kReadBufferSize);
    } catch (const CInternetException&) {
      // Cancel closed the request under the read.
      if (!params.cancelRequested) throw;
    }
    if (params.cancelRequested) {
      t.cancelled = true;
      break;
    }
    if (n == 0) {
      SendProgress(params.window, t.length, t.length);
      break;
    }
    if (n > limit - t.received) {
      t.overflow = true;
      break;
    }
    t.received += n;
    windowBytes += n;
    if (windowBytes >= kMinBytesPerTimeout) {
      windowStart = GetTickCount();
      windowBytes = 0;
    } else if (GetTickCount() - windowStart >= params.timeoutMs) {
      throw CInternetException(ERROR_INTERNET_TIMEOUT);
    }
    SendProgress(params.window, t.received, t.length);
    file.Write(buffer.data(), n);
    sha.Update(buffer.data(), n);
  }
  file.Flush();
  file.Close();
  t.digest = sha.FinalHex();
  return t;
}

// 0 when the downloaded file may be run; otherwise the error code for the
// record. The program runs the file elevated, so a body cut short or one
// that is not the pinned redistributable must never be taken.
DWORD VerifyTransfer(const Transfer& t, const std::string& pins) {
  if (t.overflow) return ERROR_FILE_TOO_LARGE;
  if (t.lengthAnnounced && t.received < t.length) return ERROR_HANDLE_EOF;
  if (!DigestMatchesAnyPin(t.digest, pins)) return ERROR_INVALID_DATA;
  return 0;
}

void RejectDownload(DownloadParams& params, CSessionLog* log, DWORD code) {
  log->WriteError(kSection, kErrorMessage, code);
  params.failed = true;
  DeleteFileA(params.localFile.c_str());
}

void Download(DownloadParams& params, CSessionLog* log) {
  CInternetSession session(UserAgent());
  // A server that stops sending must not hold the wizard in its download
  // step: the manual installation is offered instead.
  session.SetOption(INTERNET_OPTION_CONNECT_TIMEOUT, params.timeoutMs);
  session.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, params.timeoutMs);
  // WinINet would try a failing connect several times, each with the full
  // time-out.
  session.SetOption(INTERNET_OPTION_CONNECT_RETRIES, 1);
  CHttpConnection connection =
      session.GetHttpConnection(params.host, params.port, kContext);
  log->WriteInfo(kSection, "Downloading .net : Connected to server");
  CHttpFile request = connection.OpenRequest(
      "GET", params.objectPath, "HTTP/1.0", kRequestFlags, kContext);
  // Set on the request too: not every WinINet hands the session's time-out
  // down to the requests it opens.
  request.SetOption(INTERNET_OPTION_RECEIVE_TIMEOUT, params.timeoutMs);
  CancelHook hook(params, request);
  if (params.cancelRequested) return;  // pressed before the request was lent
  request.SendRequest();
  std::string status;
  if (request.QueryInfo(HTTP_QUERY_STATUS_CODE, status, 80))
    params.statusCode = std::strtoul(status.c_str(), nullptr, 10);
  // Any other answer is the server's, not a fault of ours: the step machine
  // judges the status.
  if (params.statusCode < 200 || params.statusCode > 299) return;

  log->WriteInfo(kSection, "Downloading .net : Downloading resource");
  Transfer t = ReceiveBody(params, request);
  log->WriteInfo(kSection, "Downloading .net : Resource downloaded");
  if (t.cancelled) return;
  DWORD rejection = VerifyTransfer(t, params.expectedSha256);
  if (rejection != 0) RejectDownload(params, log, rejection);
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
    // A call that failed because Cancel closed its request is the
    // cancellation, not a failed download.
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

void CancelDownload(DownloadParams& params) {
  params.cancelRequested = true;
  // Closing the handle is the documented way to end a blocking WinINet
  // call; the worker takes the failure that follows for the cancellation.
  if (HINTERNET request = params.request.exchange(nullptr)) CloseInternetHandle(request);
}

DWORD WINAPI DownloadWorker(LPVOID downloadParams) {
  // An exception must not unwind into the system's thread start; by this
  // point RunDownload has recorded every failure of the download itself.
  try {
    RunDownload(*static_cast<DownloadParams*>(downloadParams));
  } catch (...) {
  }
  return 0;
}
