// The download worker against the loopback server, reached through the
// proxy setting as a real web host would be. A message-only window of the
// test receives what the wizard window would.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../fixtures/http_server/loopback_server.h"
#include "framework/sha256.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "support/e2e.h"
#include "wizard/messages.h"
#include "wizard/params.h"
#include "wizard/wizard_owner.h"

namespace {

const char kHost[] = "downloads.ravenstock.invalid";
const char kObjectPath[] = "/downloads/framework.net.1.1.exe";
const char kRequestLine[] =
    "GET http://downloads.ravenstock.invalid:80/downloads/framework.net.1.1.exe HTTP/1.0";

// The wizard side as far as the worker sees it: only the log is used.
class RecorderOwner : public WizardOwner {
 public:
  explicit RecorderOwner(CSessionLog* log) : log_(log) {}
  CSessionLog* GetSessionLog() override { return log_; }
  void SetStatusText(const std::string&) override { ++otherCalls; }
  void SetDetailText(const std::string&) override { ++otherCalls; }
  void ShowProgressBar(bool) override { ++otherCalls; }
  void EnableCancelButton(bool) override { ++otherCalls; }
  void SetProgress(int, int) override { ++otherCalls; }
  void SetProgressStep(int) override { ++otherCalls; }
  void StepProgress() override { ++otherCalls; }
  void OffsetProgress(int) override { ++otherCalls; }
  void ExtendProgressRange(int) override { ++otherCalls; }
  void UpdateInstallPercent() override { ++otherCalls; }
  int otherCalls = 0;

 private:
  CSessionLog* log_;
};

struct Message {
  UINT id;
  WPARAM wParam;
  LPARAM lParam;
};

// A message-only window that notes every worker message. It can raise the
// cancel flag while handling a progress message, as a user's Cancel would
// between two chunks.
class MessageRecorder {
 public:
  MessageRecorder() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "RavenDownloadRecorder";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0,
                              HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~MessageRecorder() { DestroyWindow(window_); }

  HWND Window() const { return window_; }
  std::vector<Message> messages;
  DownloadParams* cancelAfterFirstChunk = nullptr;

  std::vector<Message> Progress() const {
    std::vector<Message> out;
    for (const Message& m : messages)
      if (m.id == WM_DOWNLOAD_PROGRESS) out.push_back(m);
    return out;
  }
  int Count(UINT id) const {
    int n = 0;
    for (const Message& m : messages) n += m.id == id;
    return n;
  }

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (self != nullptr && msg >= WM_SETUP_DONE && msg <= WM_FRAMEWORK_INSTALL_DONE) {
      self->messages.push_back({msg, wp, lp});
      if (msg == WM_DOWNLOAD_PROGRESS && wp > 0 && self->cancelAfterFirstChunk)
        self->cancelAfterFirstChunk->cancelRequested = true;
      return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
  }

  HWND window_ = nullptr;
};

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  unsigned x = 12345;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return data;
}

class DownloadWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    scratch_ = std::string(temp) + "RavDownload" + std::to_string(GetTickCount()) + "\\";
    ASSERT_TRUE(CreateDirectoryA(scratch_.c_str(), nullptr));
    body_ = Pattern(300000);  // several whole chunks and a part
    bodyFile_ = scratch_ + "served.bin";
    ASSERT_TRUE(e2e::WriteFileText(bodyFile_, body_));
    log_.reset(new CSessionLog("RavenDownloadTest", "BootStrap"));
    DeleteFileA(log_->FilePath().c_str());
    owner_.reset(new RecorderOwner(log_.get()));
    params_.window = recorder_.Window();
    params_.host = kHost;
    params_.port = 80;
    params_.objectPath = kObjectPath;
    params_.localFile = scratch_ + "work\\dotnetfx.exe";
    params_.owner = owner_.get();
    params_.expectedSha256 = Sha256Hex(body_.data(), body_.size());
    CreateDirectoryA((scratch_ + "work").c_str(), nullptr);
  }

  void TearDown() override {
    proxy_.reset();
    server_.Stop();
    DeleteFileA(log_->FilePath().c_str());
    DeleteFileA(params_.localFile.c_str());
    RemoveDirectoryA((scratch_ + "work").c_str());
    DeleteFileA(bodyFile_.c_str());
    DeleteFileA((scratch_ + "server.port").c_str());
    DeleteFileA((scratch_ + "server-requests.log").c_str());
    RemoveDirectoryA(scratch_.c_str());
  }

  void Serve(const std::string& options) {
    ASSERT_TRUE(server_.Start(e2e::FixtureExe("http_server.exe"), bodyFile_,
                              options, scratch_));
    PointProxyAt(server_.Port());
  }

  // The old setting goes first: it puts back what it found, which must not
  // undo the new one.
  void PointProxyAt(unsigned short port) {
    proxy_.reset();
    proxy_.reset(new loopback::ProxySetting(port));
  }

  // Runs the worker on its own thread while this thread serves the
  // recorder window, until the thread has ended (its last record written)
  // and the messages it posted have arrived.
  void RunWorker(DWORD timeoutMs = 60000) {
    HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, &params_, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    DWORD start = GetTickCount();
    bool ended = false;
    while (!ended && GetTickCount() - start < timeoutMs) {
      PumpMessages();
      ended = MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT) ==
              WAIT_OBJECT_0;
    }
    PumpMessages();
    CloseHandle(thread);
    ASSERT_TRUE(ended) << "the worker did not end";
    log = e2e::ReadFileText(log_->FilePath());
  }

  static void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }

  bool Logged(const std::string& infoText) const {
    return log.find(">" + infoText + "</info>") != std::string::npos;
  }
  bool LocalFilePresent() const { return e2e::PathExists(params_.localFile); }
  std::string LocalFile() const { return e2e::ReadFileText(params_.localFile); }
  LPARAM Block() { return reinterpret_cast<LPARAM>(&params_); }
  bool ErrorRecordWithStatus(int status) const {
    return log.find("message=\"An error occurred while downloading .net\">") !=
               std::string::npos &&
           log.find("<exception status=\"" + std::to_string(status) + "\"") !=
               std::string::npos;
  }

  // The messages of a download that ended normally: (0, length) first, a
  // growing count per chunk, (length, length) last, then the end message.
  void ExpectCompleteProgress(DWORD length, DWORD size) {
    std::vector<Message> progress = recorder_.Progress();
    ASSERT_GE(progress.size(), 3u);
    EXPECT_EQ(progress.front().wParam, 0u);
    DWORD previous = 0;
    for (size_t i = 0; i < progress.size(); ++i) {
      EXPECT_EQ(progress[i].lParam, static_cast<LPARAM>(length)) << "message " << i;
      if (i == 0 || i + 1 == progress.size()) continue;
      EXPECT_GT(progress[i].wParam, previous);
      EXPECT_LE(progress[i].wParam - previous, 65536u);
      previous = static_cast<DWORD>(progress[i].wParam);
    }
    EXPECT_EQ(previous, size);
    EXPECT_EQ(progress.back().wParam, length);
    ASSERT_EQ(recorder_.messages.back().id, static_cast<UINT>(WM_DOWNLOAD_DONE));
    EXPECT_EQ(recorder_.messages.back().lParam, Block());
    EXPECT_EQ(recorder_.Count(WM_WORKER_CANCELLED), 0);
  }

  std::string scratch_;
  std::string body_;
  std::string bodyFile_;
  std::unique_ptr<CSessionLog> log_;
  std::unique_ptr<RecorderOwner> owner_;
  MessageRecorder recorder_;
  DownloadParams params_;
  loopback::Server server_;
  std::unique_ptr<loopback::ProxySetting> proxy_;
  std::string log;
};

TEST_F(DownloadWorkerTest, DownloadsTheFileThroughTheProxy) {
  Serve("--mode ok");
  RunWorker();
  EXPECT_EQ(params_.statusCode, 200u);
  EXPECT_FALSE(params_.failed);
  EXPECT_TRUE(LocalFile() == body_) << "the downloaded file differs";
  ExpectCompleteProgress(static_cast<DWORD>(body_.size()),
                         static_cast<DWORD>(body_.size()));
  EXPECT_EQ(server_.RequestLog(), std::string(kRequestLine) + "\r\n");
  // The record keeps both slashes between port and path.
  std::string start = "Starting .net download thread for : \"http://" +
                      std::string(kHost) + ":80/" + kObjectPath +
                      "\", local file : \"" + params_.localFile + "\"";
  EXPECT_TRUE(e2e::InOrder(log, {">" + start + "</info>",
                                 ">Downloading .net : Connected to server</info>",
                                 ">Downloading .net : Downloading resource</info>",
                                 ">Downloading .net : Resource downloaded</info>",
                                 ">Terminating .net download thread</info>"}))
      << log;
  EXPECT_EQ(log.find("<error"), std::string::npos);
  EXPECT_EQ(owner_->otherCalls, 0);
}

// Without a length the progress carries 0 as total throughout; the end of
// the body is the closed connection, and the pinned hash still decides.
TEST_F(DownloadWorkerTest, ResponseWithoutLength) {
  Serve("--mode nolength");
  RunWorker();
  EXPECT_EQ(params_.statusCode, 200u);
  EXPECT_FALSE(params_.failed);
  EXPECT_TRUE(LocalFile() == body_);
  ExpectCompleteProgress(0, static_cast<DWORD>(body_.size()));
  EXPECT_EQ(recorder_.Progress().back().wParam, 0u);
}

// An answer outside 2xx is the server's verdict, not a worker failure: no
// file, the status kept for the step machine.
TEST_F(DownloadWorkerTest, ErrorStatusLeavesNoFile) {
  for (int status : {404, 500}) {
    SCOPED_TRACE(status);
    recorder_.messages.clear();
    Serve("--status " + std::to_string(status));
    RunWorker();
    EXPECT_EQ(params_.statusCode, static_cast<unsigned long>(status));
    EXPECT_FALSE(params_.failed);
    EXPECT_FALSE(LocalFilePresent());
    EXPECT_TRUE(Logged("Downloading .net : Connected to server"));
    EXPECT_FALSE(Logged("Downloading .net : Downloading resource"));
    EXPECT_EQ(log.find("<error"), std::string::npos);
    EXPECT_TRUE(Logged("Terminating .net download thread"));
    ASSERT_EQ(recorder_.messages.size(), 1u);
    EXPECT_EQ(recorder_.messages[0].id, static_cast<UINT>(WM_DOWNLOAD_DONE));
    EXPECT_EQ(recorder_.messages[0].lParam, Block());
    DeleteFileA(log_->FilePath().c_str());
  }
}

// The file is run elevated afterwards: a body cut short of its announced
// length, or one that is not the pinned redistributable, must not stay.
TEST_F(DownloadWorkerTest, TruncatedBodyIsRejected) {
  Serve("--mode truncated");
  RunWorker();
  EXPECT_EQ(params_.statusCode, 200u);
  EXPECT_TRUE(params_.failed);
  EXPECT_FALSE(LocalFilePresent());
  EXPECT_TRUE(ErrorRecordWithStatus(ERROR_HANDLE_EOF)) << log;
  EXPECT_TRUE(e2e::InOrder(log, {"Resource downloaded", "<error",
                                 "Terminating .net download thread"}));
  EXPECT_EQ(recorder_.messages.back().id, static_cast<UINT>(WM_DOWNLOAD_DONE));
}

TEST_F(DownloadWorkerTest, UnpinnedOrWrongHashIsRejected) {
  std::string right = params_.expectedSha256;
  for (std::string pin : {Sha256Hex("abc", 3), std::string()}) {
    SCOPED_TRACE(pin.empty() ? "no pin" : "wrong pin");
    params_.expectedSha256 = pin;
    params_.failed = false;
    recorder_.messages.clear();
    Serve("--mode ok");
    RunWorker();
    EXPECT_EQ(params_.statusCode, 200u);
    EXPECT_TRUE(params_.failed);
    EXPECT_FALSE(LocalFilePresent());
    EXPECT_TRUE(ErrorRecordWithStatus(ERROR_INVALID_DATA)) << log;
    EXPECT_EQ(recorder_.messages.back().id, static_cast<UINT>(WM_DOWNLOAD_DONE));
    DeleteFileA(log_->FilePath().c_str());
  }
}

// Cancel pressed while the server is still sending: the chunk read after
// the flag is dropped, the partial file is closed, and the wizard is told
// by a posted message, without the final progress.
TEST_F(DownloadWorkerTest, CancelDuringSlowDownload) {
  recorder_.cancelAfterFirstChunk = &params_;
  Serve("--mode slow --piece 4096 --pause 15");
  RunWorker();
  EXPECT_FALSE(params_.failed);
  ASSERT_TRUE(LocalFilePresent());
  std::string partial = LocalFile();
  std::vector<Message> progress = recorder_.Progress();
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(partial.size(), progress[1].wParam);
  EXPECT_LT(partial.size(), body_.size());
  EXPECT_TRUE(partial == body_.substr(0, partial.size()));
  // Closed: it opens without sharing.
  HANDLE h = CreateFileA(params_.localFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                         0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  EXPECT_TRUE(Logged("Downloading .net : Resource downloaded"));
  EXPECT_TRUE(Logged("Terminating .net download thread"));
  EXPECT_EQ(log.find("<error"), std::string::npos);
  EXPECT_EQ(recorder_.Count(WM_DOWNLOAD_DONE), 0);
  ASSERT_EQ(recorder_.messages.back().id, static_cast<UINT>(WM_WORKER_CANCELLED));
  EXPECT_EQ(recorder_.messages.back().lParam, Block());
}

// Failures of the transfer itself are the worker's own: an error record
// naming the exception, the failed flag, and still the end message.
TEST_F(DownloadWorkerTest, RefusedConnectionFails) {
  Serve("--mode ok");
  unsigned short port = server_.Port();
  server_.Stop();  // nothing listens on that port any more
  PointProxyAt(port);
  RunWorker();
  EXPECT_TRUE(params_.failed);
  EXPECT_EQ(params_.statusCode, 0u);
  EXPECT_FALSE(LocalFilePresent());
  EXPECT_TRUE(Logged("Downloading .net : Connected to server"));
  EXPECT_NE(log.find("<exception message=\""), std::string::npos) << log;
  EXPECT_TRUE(Logged("Terminating .net download thread"));
  ASSERT_EQ(recorder_.messages.size(), 1u);
  EXPECT_EQ(recorder_.messages[0].id, static_cast<UINT>(WM_DOWNLOAD_DONE));
}

}  // namespace
