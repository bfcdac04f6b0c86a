// The download worker against the loopback server, reached through the
// proxy setting as a real web host would be.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/sha256.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "support/e2e.h"
#include "support/wizard_session.h"
#include "support/worker_recorder.h"
#include "wizard/params.h"

namespace {

const char kRequestLine[] =
    "GET http://downloads.ravenstock.invalid:80/downloads/framework.net.1.1.exe HTTP/1.0\r\n";

std::string Pattern(size_t size) {
  std::string data(size, '\0');
  unsigned x = 12345;
  for (char& c : data) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return data;
}

class DownloadWorkerTest : public e2e::WizardSession {
 protected:
  void SetUp() override {
    body_ = Pattern(300000);  // several whole chunks and a part
    bodyFile_ = ScratchFile("download-worker-body.bin");
    ASSERT_TRUE(e2e::WriteFileText(bodyFile_, body_));
    DeleteFileA(log_.FilePath().c_str());
    params_.window = recorder_.Window();
    params_.host = "downloads.ravenstock.invalid";
    params_.port = 80;
    params_.objectPath = "/downloads/framework.net.1.1.exe";
    params_.localFile = ScratchFile("dotnetfx-download-test.exe");
    params_.owner = &owner_;
    params_.expectedSha256 = Sha256Hex(body_.data(), body_.size());
  }

  void TearDown() override {
    WizardSession::TearDown();
    DeleteFileA(log_.FilePath().c_str());
  }

  void Serve(const std::string& options) { WizardSession::Serve(options, bodyFile_); }

  // Until the thread has ended (its last record written) and the messages
  // it posted have arrived.
  void RunWorker() {
    recorder_.messages.clear();
    DeleteFileA(log_.FilePath().c_str());
    ASSERT_TRUE(e2e::RunWorkerThread(DownloadWorker, &params_)) << "the worker did not end";
    log = e2e::ReadFileText(log_.FilePath());
  }

  bool Logged(const std::string& infoText) const {
    return log.find(">" + infoText + "</info>") != std::string::npos;
  }
  bool LocalFilePresent() const { return e2e::PathExists(params_.localFile); }
  std::string LocalFile() const { return e2e::ReadFileText(params_.localFile); }
  LPARAM Block() { return reinterpret_cast<LPARAM>(&params_); }

  // The messages of a download that ended normally: (0, length) first, a
  // growing count per chunk, (length, length) last, then the end message.
  void ExpectCompleteProgress(DWORD length) {
    EXPECT_EQ(params_.statusCode, 200u);
    EXPECT_FALSE(params_.failed);
    EXPECT_TRUE(LocalFile() == body_) << "the downloaded file differs";
    std::vector<e2e::WorkerMessage> progress = recorder_.Of(WM_DOWNLOAD_PROGRESS);
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
    EXPECT_EQ(previous, body_.size());
    EXPECT_EQ(progress.back().wParam, length);
    ASSERT_EQ(recorder_.messages.back().id, static_cast<UINT>(WM_DOWNLOAD_DONE));
    EXPECT_EQ(recorder_.messages.back().lParam, Block());
    EXPECT_EQ(recorder_.Count(WM_WORKER_CANCELLED), 0);
  }

  std::string body_, bodyFile_, log;
  CSessionLog log_{"RavenDownloadTest", "BootStrap"};
  e2e::RecorderOwner owner_{&log_};
  e2e::MessageRecorder recorder_{false};
  DownloadParams params_;
};

TEST_F(DownloadWorkerTest, DownloadsTheFileThroughTheProxy) {
  Serve("--mode ok");
  RunWorker();
  ExpectCompleteProgress(static_cast<DWORD>(body_.size()));
  EXPECT_EQ(server_.RequestLog(), kRequestLine);
  // The record keeps both slashes between port and path.
  std::string start =
      "Starting .net download thread for : \"http://downloads.ravenstock.invalid:80/"
      "/downloads/framework.net.1.1.exe\", local file : \"" + params_.localFile + "\"";
  EXPECT_TRUE(e2e::InOrder(log, {">" + start + "</info>",
                                 ">Downloading .net : Connected to server</info>",
                                 ">Downloading .net : Downloading resource</info>",
                                 ">Downloading .net : Resource downloaded</info>",
                                 ">Terminating .net download thread</info>"}))
      << log;
  EXPECT_EQ(log.find("<error"), std::string::npos);
  EXPECT_TRUE(owner_.calls.empty());
}

// Without a length the progress carries 0 as total throughout; the end of
// the body is the closed connection, and the pinned hash still decides.
TEST_F(DownloadWorkerTest, ResponseWithoutLength) {
  Serve("--mode nolength");
  RunWorker();
  ExpectCompleteProgress(0);
}

// The file is run elevated afterwards: without a pin to check it against
// it must not stay (a cut body and a wrong pin are driven end to end).
TEST_F(DownloadWorkerTest, BodyWithoutAPinIsRejected) {
  params_.expectedSha256.clear();
  Serve("--mode ok");
  RunWorker();
  EXPECT_EQ(params_.statusCode, 200u);
  EXPECT_TRUE(params_.failed);
  EXPECT_FALSE(LocalFilePresent());
  EXPECT_TRUE(e2e::InOrder(log, {"Resource downloaded",
                                 "message=\"An error occurred while downloading .net\">",
                                 "<exception status=\"" + std::to_string(ERROR_INVALID_DATA) + "\"",
                                 "Terminating .net download thread"}))
      << log;
  EXPECT_EQ(recorder_.messages.back().id, static_cast<UINT>(WM_DOWNLOAD_DONE));
}

// Cancel pressed while the server is still sending: the chunk read after
// the flag is dropped, the partial file is closed, and the wizard is told
// by a posted message, without the final progress.
TEST_F(DownloadWorkerTest, CancelDuringSlowDownload) {
  recorder_.onMessage = [this](const e2e::WorkerMessage& m) {
    if (m.id == WM_DOWNLOAD_PROGRESS && m.wParam > 0) params_.cancelRequested = true;
  };
  Serve("--mode slow --piece 4096 --pause 15");
  RunWorker();
  EXPECT_FALSE(params_.failed);
  ASSERT_TRUE(LocalFilePresent());
  std::string partial = LocalFile();
  std::vector<e2e::WorkerMessage> progress = recorder_.Of(WM_DOWNLOAD_PROGRESS);
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(partial.size(), progress[1].wParam);
  EXPECT_LT(partial.size(), body_.size());
  EXPECT_TRUE(partial == body_.substr(0, partial.size()));
  // Closed: it opens without sharing.
  HANDLE h = CreateFileA(params_.localFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                         0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  EXPECT_TRUE(e2e::InOrder(log, {">Downloading .net : Resource downloaded<",
                                 ">Terminating .net download thread<"}));
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
  EXPECT_TRUE(e2e::InOrder(log, {">Downloading .net : Connected to server<",
                                 "<exception message=\"",
                                 ">Terminating .net download thread<"}))
      << log;
  ASSERT_EQ(recorder_.messages.size(), 1u);
  EXPECT_EQ(recorder_.messages[0].id, static_cast<UINT>(WM_DOWNLOAD_DONE));
}

}  // namespace
