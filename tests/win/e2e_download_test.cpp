// The real bootstrapper fetching the framework redistributable from the
// loopback server, which WinINet reaches as the proxy of the whole web: what
// goes out, what the user sees while it arrives, and that nothing but the
// pinned, complete redistributable is ever started.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "../fixtures/http_server/loopback_server.h"
#include "framework/redist_hash.h"
#include "framework/sha256.h"
#include "support/e2e.h"

namespace {

const int kNext = 1, kCancel = 2, kProgress = 1002, kStatus = 1003,
          kTitle = 1008, kAccept = 1012, kLicence = 1014, kError = 1016;
const char kRequestLine[] =
    "GET http://downloads.ravenstock.invalid:80/downloads/framework.net.1.1.exe HTTP/1.0";
// The pin of the variant that expects another file than the one served.
const char kOtherPin[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string ExeString(const std::string& exe, UINT id) {
  HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  char buf[512] = {};
  if (m != nullptr) {
    LoadStringA(m, id, buf, sizeof buf);
    FreeLibrary(m);
  }
  return buf;
}

// The stand-in redistributable that the default build pins.
std::string Redistributable() { return e2e::BuildDir() + "\\win32\\demo\\dotnetfx.exe"; }

// The local file named by the worker's first record; empty before it.
std::string DownloadTarget(const std::string& log) {
  const std::string key = "local file : \"";
  size_t at = log.find(key);
  if (at == std::string::npos) return std::string();
  at += key.size();
  return log.substr(at, log.find('"', at) - at);
}

class DownloadE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e::SetFrameworkInstalled(false);
    e2e::DeleteLog();
    scratch_ = e2e::TempDir() + "RavDownloadE2e\\";
    CreateDirectoryA(scratch_.c_str(), nullptr);
    redistRecord_ = scratch_ + "redist-record.txt";
    DeleteFileA(redistRecord_.c_str());
    SetEnvironmentVariableA("RAVEN_REDIST_RECORD", redistRecord_.c_str());
  }

  void TearDown() override {
    bootstrapper_.Kill();
    proxy_.reset();
    server_.Stop();
    if (!besideExe_.empty()) DeleteFileA(besideExe_.c_str());
    SetEnvironmentVariableA("RAVEN_REDIST_RECORD", nullptr);
    SetEnvironmentVariableA("RAVEN_REDIST_EXIT", nullptr);
    for (const char* name : {"redist-record.txt", "server.port", "server-requests.log"})
      DeleteFileA((scratch_ + name).c_str());
    RemoveDirectoryA(scratch_.c_str());
  }

  void Serve(const std::string& options) {
    ASSERT_TRUE(server_.Start(e2e::FixtureExe("http_server.exe"), Redistributable(),
                              options, scratch_));
    // The old setting goes first: it puts back what it found.
    proxy_.reset();
    proxy_.reset(new loopback::ProxySetting(server_.Port()));
  }

  void Start(const std::string& variant) {
    exe_ = e2e::VariantExe(variant);
    ASSERT_TRUE(e2e::PathExists(exe_)) << exe_;
    bootstrapper_ = e2e::Process(exe_, "");
    ASSERT_TRUE(bootstrapper_.Started());
    wizard_ = e2e::WaitForWizard(bootstrapper_.Id());
    ASSERT_NE(nullptr, wizard_);
  }

  // Welcome, framework required, licence accepted, Next.
  void AcceptLicence() {
    Press(kNext);
    ASSERT_TRUE(e2e::WaitFor([&] { return Visible(kLicence); }));
    e2e::Click(wizard_, kAccept);
    Press(kNext);
  }

  void Press(int id) {
    ASSERT_TRUE(e2e::WaitFor([&] { return Enabled(id); })) << "button " << id;
    e2e::Click(wizard_, id);
  }

  std::string Str(UINT id) const { return ExeString(exe_, id); }
  std::string Text(int id) const { return e2e::ControlText(wizard_, id); }
  bool Visible(int id) const { return e2e::ControlVisible(wizard_, id); }
  bool Enabled(int id) const { return e2e::ControlEnabled(wizard_, id); }

  // Step 9: the manual installation is offered, the download is gone and
  // the redistributable never ran. Cancel then ends the wizard.
  void ExpectDownloadFailedPage() {
    ASSERT_TRUE(e2e::WaitFor([&] { return Text(kTitle) == Str(218); }, 60000))
        << Text(kTitle);
    EXPECT_EQ(Str(216), Text(kError));
    EXPECT_TRUE(Visible(kError));
    EXPECT_TRUE(Enabled(kNext));
    log_ = e2e::ReadLog();
    const std::string target = DownloadTarget(log_);
    EXPECT_NE(std::string::npos, target.find("\\dotnetfx.exe")) << log_;
    EXPECT_FALSE(e2e::PathExists(target)) << target;
    EXPECT_EQ(std::string::npos, log_.find("New step reached : 4")) << log_;
    Press(kCancel);
    ASSERT_TRUE(bootstrapper_.Wait(20000));
    EXPECT_EQ("", e2e::ReadFileText(redistRecord_)) << "the redistributable ran";
  }

  bool ErrorRecordWithStatus(int status) const {
    return e2e::InOrder(log_, {"Downloading .net : Resource downloaded",
                               "message=\"An error occurred while downloading .net\">",
                               "<exception status=\"" + std::to_string(status) + "\"",
                               "New step reached : 9"});
  }

  std::string scratch_, exe_, besideExe_, redistRecord_, log_;
  e2e::Process bootstrapper_;
  HWND wizard_ = nullptr;
  loopback::Server server_;
  std::unique_ptr<loopback::ProxySetting> proxy_;
};

TEST_F(DownloadE2eTest, RequestAndProgressWhileTheBodyArrives) {
  SetEnvironmentVariableA("RAVEN_REDIST_EXIT", "1");  // stop after the download
  Serve("--mode slow --piece 16384 --pause 60");
  Start("download");
  AcceptLicence();

  // The status line follows the body: "<size text> - <percent>%".
  const std::string format = Str(208);
  const std::string head = format.substr(0, format.find("%s"));
  std::string status;
  int percent = -1;
  ASSERT_TRUE(e2e::WaitFor([&] {
    status = Text(kStatus);
    size_t dash = status.rfind(" - ");
    if (status.compare(0, head.size(), head) != 0 || dash == std::string::npos ||
        dash <= head.size() || status.size() < 4 ||
        status.compare(status.size() - 3, 3, "%).") != 0)
      return false;
    percent = std::atoi(status.c_str() + dash + 3);
    return percent > 0 && percent < 100;
  })) << status;
  EXPECT_TRUE(Visible(kProgress));
  LRESULT position = SendMessageA(GetDlgItem(wizard_, kProgress), PBM_GETPOS, 0, 0);
  EXPECT_GT(position, 0);
  EXPECT_LE(position, 100);

  // Complete and pinned: the install step starts the downloaded copy.
  ASSERT_TRUE(e2e::WaitFor([&] { return Text(kTitle) == Str(218); }, 60000));
  Press(kCancel);
  ASSERT_TRUE(bootstrapper_.Wait(20000));
  EXPECT_EQ(std::string(kRequestLine) + "\r\n", server_.RequestLog());
  const std::string log = e2e::ReadLog();
  // The worker's last record follows the step change its end message made.
  EXPECT_TRUE(e2e::InOrder(log, {"Downloading .net : Downloading resource",
                                 "Downloading .net : Resource downloaded",
                                 "New step reached : 4",
                                 "Terminating .net download thread"}))
      << log;
  EXPECT_EQ(std::string::npos, log.find("An error occurred while downloading .net"));
  EXPECT_NE("", e2e::ReadFileText(redistRecord_));
}

TEST_F(DownloadE2eTest, ErrorStatusOffersTheManualInstallation) {
  for (int status : {404, 500}) {
    SCOPED_TRACE(status);
    e2e::DeleteLog();
    Serve("--status " + std::to_string(status));
    Start("download");
    AcceptLicence();
    ExpectDownloadFailedPage();
    EXPECT_TRUE(e2e::InOrder(log_, {"Downloading .net : Connected to server",
                                    "New step reached : 9",
                                    "Terminating .net download thread"}))
        << log_;
    EXPECT_EQ(std::string::npos, log_.find("Downloading .net : Downloading resource"));
    EXPECT_EQ(std::string::npos, log_.find("<error "));
  }
}

TEST_F(DownloadE2eTest, TruncatedBodyIsNeverRun) {
  Serve("--mode truncated");
  Start("download");
  AcceptLicence();
  ExpectDownloadFailedPage();
  EXPECT_TRUE(ErrorRecordWithStatus(ERROR_HANDLE_EOF)) << log_;
}

TEST_F(DownloadE2eTest, FileOtherThanThePinnedOneIsNeverRun) {
  Serve("--mode ok");
  Start("download-otherpin");
  AcceptLicence();
  ExpectDownloadFailedPage();
  EXPECT_TRUE(ErrorRecordWithStatus(ERROR_INVALID_DATA)) << log_;
  EXPECT_EQ(std::string(kRequestLine) + "\r\n", server_.RequestLog());
}

// The user's own copy beside the program is taken as it is: no request,
// and the licence page leads straight to the installation.
TEST_F(DownloadE2eTest, RedistributableBesideTheExeNeedsNoDownload) {
  SetEnvironmentVariableA("RAVEN_REDIST_EXIT", "1");
  Serve("--mode ok");
  std::string exe = e2e::VariantExe("download-beside");
  besideExe_ = exe.substr(0, exe.rfind('\\') + 1) + "dotnetfx.exe";
  ASSERT_TRUE(CopyFileA(Redistributable().c_str(), besideExe_.c_str(), FALSE));
  Start("download-beside");
  AcceptLicence();
  ASSERT_TRUE(e2e::WaitFor([&] { return Text(kTitle) == Str(218); }, 60000));
  Press(kCancel);
  ASSERT_TRUE(bootstrapper_.Wait(20000));
  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"New step reached : 2", "New step reached : 4"})) << log;
  EXPECT_EQ(std::string::npos, log.find("New step reached : 3")) << log;
  EXPECT_EQ(std::string::npos, log.find("download thread")) << log;
  EXPECT_EQ("", server_.RequestLog());
  EXPECT_NE("", e2e::ReadFileText(redistRecord_));
}

// What make-bootstrapper pinned is what the program reads back: the demo
// redistributable by default, the given hash otherwise.
TEST(PinnedRedistHash, IsTheOneGivenToTheBuild) {
  std::string demo = e2e::ReadFileText(Redistributable());
  ASSERT_FALSE(demo.empty());
  struct Case {
    const char* variant;
    std::string pin;
  } cases[] = {{"download", Sha256Hex(demo.data(), demo.size())},
               {"download-otherpin", kOtherPin}};
  for (const Case& c : cases) {
    HMODULE m = LoadLibraryExA(e2e::VariantExe(c.variant).c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, m) << c.variant;
    EXPECT_EQ(c.pin, LoadPinnedRedistHash(m)) << c.variant;
    FreeLibrary(m);
  }
  // The test program carries no pin at all.
  EXPECT_EQ("", LoadPinnedRedistHash(GetModuleHandleA(nullptr)));
}

}  // namespace
