// The real bootstrapper on a machine without the framework: it fetches the
// redistributable from the loopback server (which WinINet reaches as the
// proxy of the whole web) or takes the copy beside the exe, installs the
// test package it unpacks with progress, and never starts anything but the
// pinned, complete redistributable.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "framework/detection.h"
#include "framework/redist_hash.h"
#include "framework/sha256.h"
#include "support/wizard_session.h"

namespace {

const char kRequestLine[] =
    "GET http://downloads.ravenstock.invalid:80/downloads/framework.net.1.1.exe HTTP/1.0\r\n";
// The pin of the variant that expects another file than the one served.
const char kOtherPin[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// The percentage in a status line made from `format` ("...(%d%%)."), or -1
// when the line is not of that form.
int PercentIn(const std::string& text, const std::string& format) {
  const std::size_t at = format.find("%d%%");
  if (at == std::string::npos) return -1;
  const std::string prefix = format.substr(0, at);
  const std::string suffix = "%" + format.substr(at + 4);
  if (text.size() <= prefix.size() + suffix.size() ||
      text.compare(0, prefix.size(), prefix) != 0 ||
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
    return -1;
  const std::string digits =
      text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(digits.c_str());
}

// The download line: "<head><size text> - <percent>%).", else -1.
int DownloadPercentIn(const std::string& status, const std::string& format) {
  const std::string head = format.substr(0, format.find("%s"));
  const size_t dash = status.rfind(" - ");
  if (status.compare(0, head.size(), head) != 0 || dash == std::string::npos ||
      dash <= head.size() || status.size() < 4 ||
      status.compare(status.size() - 3, 3, "%).") != 0)
    return -1;
  return std::atoi(status.c_str() + dash + 3);
}

// The local file named by the download worker's first record.
std::string DownloadTarget(const std::string& log) {
  const std::string key = "local file : \"";
  size_t at = log.find(key);
  if (at == std::string::npos) return std::string();
  at += key.size();
  return log.substr(at, log.find('"', at) - at);
}

// The install worker's records, in the order it must write them.
std::vector<std::string> InstallRecords(const std::string& program) {
  return {"Starting .net installation thread for : " + program + ", folder : ",
          ".net installation process successfully started",
          "Unpacking .net setup", ".net setup unpacked", ">Installing .net<",
          "Installing .net : Ok", "Terminating .net installation thread"};
}

class FrameworkE2eTest : public e2e::WizardSession {
 protected:
  void SetUp() override {
    WizardSession::SetUp();
    e2e::RemoveFrameworkPackage();
    ASSERT_TRUE(IsFrameworkMissing());
    redistRecord_ = ScratchFile("framework-redist-record.txt");
    setupRecord_ = ScratchFile("framework-setup-record.txt");
    SetEnv("RAVEN_REDIST_RECORD", redistRecord_);
    SetEnv("RAVEN_SETUP_RECORD", setupRecord_);
    SetEnv("RAVEN_SETUP_AUTOCLOSE", "1000");
  }

  void TearDown() override {
    WizardSession::TearDown();
    e2e::RemoveFrameworkPackage();
  }

  bool RedistributableRan() const { return !e2e::ReadFileText(redistRecord_).empty(); }
  bool SetupProgramRan() const { return !e2e::ReadFileText(setupRecord_).empty(); }
  int InstallPercent() const { return PercentIn(Text(IDC_STATUS_TEXT), Str(212)); }

  // Step 9: the manual installation is offered, the download is gone and
  // the redistributable never ran. Cancel then ends the wizard.
  void ExpectDownloadFailedPage() {
    ASSERT_TRUE(WaitText(IDC_TITLE, Str(218), 60000)) << Text(IDC_TITLE);
    EXPECT_EQ(Str(216), Text(IDC_ERROR_TEXT));
    EXPECT_TRUE(Visible(IDC_ERROR_TEXT));
    EXPECT_TRUE(Enabled(IDOK));
    log_ = e2e::ReadLog();
    const std::string target = DownloadTarget(log_);
    EXPECT_NE(std::string::npos, target.find("\\dotnetfx.exe")) << log_;
    EXPECT_FALSE(e2e::PathExists(target)) << target;
    EXPECT_EQ(std::string::npos, log_.find("New step reached : 4")) << log_;
    Press(IDCANCEL);
    ASSERT_TRUE(EndsSoon());
    EXPECT_FALSE(RedistributableRan());
  }

  std::string redistRecord_, setupRecord_, log_;
};

TEST_F(FrameworkE2eTest, DownloadedRedistributableInstallsWithProgress) {
  // Slow enough to watch: the body, the unpack and the installation.
  Serve("--mode slow --piece 16384 --pause 60");
  SetEnv("RAVEN_REDIST_DELAY_MS", "1500");
  SetEnv("RAVEN_PACKAGE_PAUSE_MS", "2500");
  Start("download");
  AcceptLicence();

  ASSERT_TRUE(WaitText(IDC_DETAIL_TEXT, Str(207)));
  std::string status;
  ASSERT_TRUE(e2e::WaitFor([&] {
    const int percent = DownloadPercentIn(status = Text(IDC_STATUS_TEXT), Str(208));
    return percent > 0 && percent < 100;
  })) << status;
  EXPECT_TRUE(Visible(IDC_PROGRESS));
  const LRESULT position = SendMessageA(GetDlgItem(wizard_, IDC_PROGRESS), PBM_GETPOS, 0, 0);
  EXPECT_GT(position, 0);
  EXPECT_LE(position, 100);
  Shot("wizard-3-downloading");

  ASSERT_TRUE(WaitText(IDC_STATUS_TEXT, Str(209), 60000)) << Text(IDC_STATUS_TEXT);
  EXPECT_EQ(Str(210), Text(IDC_DETAIL_TEXT));
  EXPECT_FALSE(Enabled(IDOK));
  Shot("wizard-4-unpacking");
  // The installer's reports move the bar and the percentage with it; the
  // package holds the end of its installation long enough to look.
  ASSERT_TRUE(e2e::WaitFor([&] { return InstallPercent() >= 0; })) << Text(IDC_STATUS_TEXT);
  EXPECT_TRUE(Visible(IDC_PROGRESS));
  ASSERT_TRUE(e2e::WaitFor([&] { return InstallPercent() == 100; })) << Text(IDC_STATUS_TEXT);
  Shot("wizard-4-installing");

  // Installed, the setup program ran and closed, the wizard ended.
  ASSERT_TRUE(EndsSoon(120000));
  EXPECT_FALSE(IsFrameworkMissing());
  EXPECT_TRUE(SetupProgramRan());
  EXPECT_EQ(kRequestLine, server_.RequestLog());
  const std::string log = e2e::ReadLog();
  const std::string downloaded = DownloadTarget(log);
  EXPECT_EQ(0u, e2e::ReadFileText(redistRecord_)
                    .find(" /q:a /c:\"msiexec /q /a netfx.msi TARGETDIR=\"\""))
      << e2e::ReadFileText(redistRecord_);
  // The download worker's last record follows the step change its end
  // message made; the two workers' records may interleave there.
  EXPECT_TRUE(e2e::InOrder(log, {"Downloading .net : Downloading resource",
                                 "Downloading .net : Resource downloaded",
                                 "New step reached : 4", "Terminating .net download thread"}))
      << log;
  EXPECT_TRUE(e2e::InOrder(log, InstallRecords(downloaded))) << log;
  EXPECT_TRUE(e2e::InOrder(log, {"Installing .net : Ok", "New step reached : 6"})) << log;
  EXPECT_EQ(std::string::npos, log.find("<error ")) << log;
}

// Without a Content-Length the size is unknown: the line shows what has
// arrived at 0 percent until the end, and the pinned file still installs.
TEST_F(FrameworkE2eTest, DownloadWithoutLengthShowsZeroPercentAndInstalls) {
  Serve("--mode slow-nolength --piece 16384 --pause 40");
  SetEnv("RAVEN_REDIST_DELAY_MS", "1000");
  Start("download");
  AcceptLicence();
  std::vector<int> seen;
  std::string status;
  ASSERT_TRUE(e2e::WaitFor([&] {
    status = Text(IDC_STATUS_TEXT);
    const int percent = DownloadPercentIn(status, Str(208));
    if (percent >= 0) seen.push_back(percent);
    return status == Str(209);
  }, 60000)) << status;
  ASSERT_FALSE(seen.empty());
  for (int percent : seen) EXPECT_EQ(0, percent);
  ASSERT_TRUE(EndsSoon(120000));
  EXPECT_FALSE(IsFrameworkMissing());
  EXPECT_TRUE(SetupProgramRan());
}

// Cancel only raises the worker's flag: the wizard ends once the worker
// notices it after its current read, with the partial file closed (the
// tear-down can delete the work folder) and nothing started.
TEST_F(FrameworkE2eTest, CancelDuringTheDownloadEndsWhenTheWorkerReports) {
  Serve("--mode slow --piece 4096 --pause 200");
  Start("download");
  AcceptLicence();
  ASSERT_TRUE(e2e::WaitFor(
      [&] { return DownloadPercentIn(Text(IDC_STATUS_TEXT), Str(208)) >= 0; }, 30000));
  Press(IDCANCEL);
  ASSERT_TRUE(EndsSoon(30000));
  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"Downloading .net : Downloading resource",
                                 "Downloading .net : Resource downloaded",
                                 "Temp folder successfully deleted"}))
      << log;
  EXPECT_EQ(std::string::npos, log.find("New step reached : 4")) << log;
  EXPECT_EQ(std::string::npos, log.find("New step reached : 9")) << log;
  EXPECT_FALSE(RedistributableRan());
}

// An error answer is the server's verdict (no error record, nothing
// downloaded); a cut body or another file than the pinned one is the
// worker's error. Either way nothing is started and step 9 offers the
// manual installation.
TEST_F(FrameworkE2eTest, FailedDownloadIsNeverRun) {
  struct Case {
    std::string mode;
    const char* variant;
    int status;  // of the error record, 0 for none
  } cases[] = {{"--status 404", "download", 0},
               {"--status 500", "download", 0},
               {"--mode truncated", "download", ERROR_HANDLE_EOF},
               {"--mode ok", "download-otherpin", ERROR_INVALID_DATA}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode + " " + c.variant);
    e2e::DeleteLog();
    Serve(c.mode);
    Start(c.variant);
    AcceptLicence();
    ExpectDownloadFailedPage();
    EXPECT_EQ(kRequestLine, server_.RequestLog());
    EXPECT_TRUE(e2e::InOrder(log_, {"Downloading .net : Connected to server",
                                    "New step reached : 9",
                                    "Terminating .net download thread"}))
        << log_;
    if (c.status == 0) {
      EXPECT_EQ(std::string::npos, log_.find("Downloading .net : Downloading resource"));
      EXPECT_EQ(std::string::npos, log_.find("<error "));
      continue;
    }
    EXPECT_TRUE(e2e::InOrder(log_, {"Downloading .net : Resource downloaded",
                                    "message=\"An error occurred while downloading .net\">",
                                    "<exception status=\"" + std::to_string(c.status) + "\"",
                                    "New step reached : 9"}))
        << log_;
  }
}

// The user's own copy beside the program is taken as it is: no request,
// the licence page leads straight to the installation. When it fails to
// unpack, the manual installation is offered and nothing is installed.
TEST_F(FrameworkE2eTest, RedistributableBesideTheExeThatFailsToUnpack) {
  SetEnv("RAVEN_REDIST_EXIT", "1");
  Serve("--mode ok");
  PutBesideExe("download-beside", e2e::DemoRedistributable());
  Start("download-beside");
  AcceptLicence();
  ASSERT_TRUE(WaitText(IDC_TITLE, Str(218), 60000));
  EXPECT_EQ(Str(220), Text(IDC_ERROR_TEXT));
  EXPECT_TRUE(Visible(IDC_ERROR_TEXT));
  EXPECT_TRUE(Enabled(IDOK));
  EXPECT_TRUE(Enabled(IDCANCEL));
  Shot("wizard-10-unpack-failed");
  Press(IDCANCEL);
  ASSERT_TRUE(EndsSoon());

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"New step reached : 2", "New step reached : 4",
                                 "Unpacking .net setup", ".net setup unpacked",
                                 "Terminating .net installation thread"}))
      << log;
  EXPECT_EQ(std::string::npos, log.find("New step reached : 3")) << log;
  EXPECT_EQ(std::string::npos, log.find("download thread")) << log;
  EXPECT_EQ(std::string::npos, log.find(">Installing .net<")) << log;
  EXPECT_EQ("", server_.RequestLog());
  // Started from its checked copy in the work folder, in that folder.
  const size_t at = log.find("Creating temp folder \"") + 22;
  EXPECT_NE(std::string::npos,
            e2e::ReadFileText(redistRecord_).find("\n" + log.substr(at, log.find('"', at) - at) + "\n"))
      << e2e::ReadFileText(redistRecord_);
  EXPECT_TRUE(IsFrameworkMissing());
  EXPECT_FALSE(SetupProgramRan());
}

TEST_F(FrameworkE2eTest, CancelDuringTheInstallationEndsTheWizard) {
  // The cancelled package holds the installation until Cancel was pressed,
  // then ends it as a user's Cancel would.
  SetEnv("RAVEN_REDIST_PACKAGE", "cancel");
  SetEnv("RAVEN_PACKAGE_PAUSE_MS", "3000");
  PutBesideExe("install", e2e::DemoRedistributable());
  Start("install");
  AcceptLicence();
  ASSERT_TRUE(e2e::WaitFor([&] { return InstallPercent() >= 0; })) << Text(IDC_STATUS_TEXT);
  Press(IDCANCEL);
  ASSERT_TRUE(EndsSoon(30000));

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {">Installing .net<", "Error while installing .net",
                                 "status=\"1602\"", "Terminating .net installation thread"}))
      << log;
  EXPECT_EQ(std::string::npos, log.find("Installing .net : Ok")) << log;
  EXPECT_EQ(0, e2e::CountOf(log, "Updating controls for step 10")) << log;
  EXPECT_FALSE(SetupProgramRan());
  EXPECT_TRUE(IsFrameworkMissing());
}

// What make-bootstrapper pinned is what the program reads back: the demo
// redistributable by default, the given hash otherwise.
TEST(PinnedRedistHash, IsTheOneGivenToTheBuild) {
  std::string demo = e2e::ReadFileText(e2e::DemoRedistributable());
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
