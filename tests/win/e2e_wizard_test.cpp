// The wizard window driven as its user would: the pages, their texts and
// controls, Cancel, the licence, and the way to a manual installation when
// the framework can be neither downloaded nor installed. Every page is
// saved as a screenshot into <build>/screenshots.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "../fixtures/http_server/loopback_server.h"
#include "support/e2e.h"

namespace {

const char kSetupTitle[] = "Ravenstock Setup Program (demo)";
const int kNext = 1, kCancel = 2, kProgress = 1002, kStatus = 1003,
          kTitle = 1008, kDetail = 1009, kAccept = 1012, kDecline = 1013,
          kLicence = 1014, kPrompt = 1015, kError = 1016;
const char kHtmlOpener[] = "htmlfile\\shell\\open\\command";
const char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// A string of the exe's own table, so the test follows the texts it ships.
std::string ExeString(const std::string& exe, UINT id) {
  HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  char buf[512] = {};
  if (m != nullptr) {
    LoadStringA(m, id, buf, sizeof buf);
    FreeLibrary(m);
  }
  return buf;
}

std::string WindowText(HWND w) {
  char text[256] = {};
  GetWindowTextA(w, text, sizeof text);
  return text;
}

int Lines(const std::string& text) { return e2e::CountOf(text, "\r\n"); }

// A registry value a test changes; its earlier state comes back at the end.
class SavedValue {
 public:
  SavedValue(HKEY root, const char* key, const char* name) : name_(name) {
    RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    existed_ = RegQueryValueExA(key_, name_, nullptr, &type_, data_, &size_) == ERROR_SUCCESS;
  }
  ~SavedValue() {
    if (existed_)
      RegSetValueExA(key_, name_, 0, type_, data_, size_);
    else
      RegDeleteValueA(key_, name_);
    RegCloseKey(key_);
  }
  void Set(DWORD type, const void* data, DWORD size) {
    RegSetValueExA(key_, name_, 0, type, static_cast<const BYTE*>(data), size);
  }

 private:
  HKEY key_ = nullptr;
  const char* name_;
  BYTE data_[1024] = {};
  DWORD type_ = 0, size_ = sizeof data_;
  bool existed_ = false;
};

class WizardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e::SetFrameworkInstalled(false);
    e2e::DeleteLog();
    // A direct connection to 127.0.0.1:80, where nothing listens.
    DWORD off = 0;
    proxy_.Set(REG_DWORD, &off, sizeof off);
    CreateDirectoryA((e2e::BuildDir() + "\\screenshots").c_str(), nullptr);
    record_ = e2e::TempDir() + "wizard-record.txt";
    opened_ = e2e::TempDir() + "wizard-opened.txt";
    DeleteFileA(record_.c_str());
    DeleteFileA(opened_.c_str());
    SetEnvironmentVariableA("RAVEN_RECORDER_FILE", opened_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_RECORD", record_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", "1500");
  }

  void TearDown() override {
    bootstrapper_.Kill();
    if (!besideExe_.empty()) DeleteFileA(besideExe_.c_str());
    for (const char* name : {"RAVEN_RECORDER_FILE", "RAVEN_SETUP_RECORD",
                             "RAVEN_SETUP_AUTOCLOSE", "RAVEN_REDIST_DELAY_MS"})
      SetEnvironmentVariableA(name, nullptr);
    DeleteFileA(record_.c_str());
    DeleteFileA(opened_.c_str());
    e2e::SetFrameworkInstalled(false);
  }

  void Start(const std::string& variant) {
    exe_ = e2e::VariantExe(variant);
    ASSERT_TRUE(e2e::PathExists(exe_)) << exe_;
    bootstrapper_ = e2e::Process(exe_, "");
    ASSERT_TRUE(bootstrapper_.Started());
    wizard_ = e2e::WaitForWizard(bootstrapper_.Id());
    ASSERT_NE(nullptr, wizard_);
  }

  std::string Str(UINT id) const { return ExeString(exe_, id); }
  std::string Text(int id) const { return e2e::ControlText(wizard_, id); }
  bool Visible(int id) const { return e2e::ControlVisible(wizard_, id); }
  bool Enabled(int id) const { return e2e::ControlEnabled(wizard_, id); }

  bool WaitText(int id, const std::string& text) {
    return e2e::WaitFor([&] { return Text(id) == text; });
  }

  // A click as a user could make it: only on an enabled button.
  void Press(int id) {
    ASSERT_TRUE(e2e::WaitFor([&] { return Enabled(id); })) << "button " << id;
    e2e::Click(wizard_, id);
  }

  void Shot(const std::string& page) {
    // Painted now (a cross-thread update waits for the paint), not later.
    RedrawWindow(wizard_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_TRUE(e2e::Screenshot(
        e2e::BuildDir() + "\\screenshots\\wizard-" + page + ".bmp", wizard_));
  }

  bool EndsSoon(DWORD ms = 10000) { return bootstrapper_.Wait(ms); }

  // From the welcome page to the licence, the framework being missing.
  void GoToLicence() {
    Press(kNext);
    ASSERT_TRUE(e2e::WaitFor([&] { return Visible(kLicence); }));
  }

  void AcceptAndGoOn() {
    e2e::Click(wizard_, kAccept);
    Press(kNext);
  }

  void RegisterRecorderAsWebPageOpener() {
    std::string command = "\"" + e2e::FixtureExe("recorder.exe") + "\" \"%1\"";
    opener_.Set(REG_SZ, command.c_str(), static_cast<DWORD>(command.size() + 1));
  }

  SavedValue proxy_{HKEY_CURRENT_USER, kInternetSettings, "ProxyEnable"};
  SavedValue opener_{HKEY_CLASSES_ROOT, kHtmlOpener, nullptr};
  std::string exe_, record_, opened_, besideExe_;
  e2e::Process bootstrapper_;
  HWND wizard_ = nullptr;
};

TEST_F(WizardTest, WelcomePageAndCancel) {
  Start("wizard");
  EXPECT_EQ("Ravenstock Setup", WindowText(wizard_));
  EXPECT_EQ(Str(203), Text(kTitle));
  EXPECT_EQ(Str(204), Text(kStatus));
  EXPECT_EQ("", Text(kDetail));
  EXPECT_TRUE(Enabled(kNext));
  EXPECT_TRUE(Enabled(kCancel));
  for (int hidden : {kProgress, kError, kLicence, kPrompt, kAccept, kDecline})
    EXPECT_FALSE(Visible(hidden)) << "control " << hidden;
  Shot("0-welcome");

  Press(kCancel);
  ASSERT_TRUE(EndsSoon());
  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"<begin ", "Updating controls for step 0",
                                 "Controls updated", "<end "})) << log;
  EXPECT_EQ(0, e2e::CountOf(log, "Seeking next step")) << log;
}

TEST_F(WizardTest, CancelWhileFrameworkRequiredEndsBeforeTheLicence) {
  Start("wizard");
  Press(kNext);
  ASSERT_TRUE(WaitText(kStatus, Str(205)));
  EXPECT_FALSE(Enabled(kNext));
  Shot("1-framework-required");
  e2e::Click(wizard_, kCancel);
  ASSERT_TRUE(EndsSoon(3000));
  EXPECT_EQ(0, e2e::CountOf(e2e::ReadLog(), "New step reached : 2"));
}

TEST_F(WizardTest, WorkerCancellationEndsTheDialogWhereverItArrives) {
  Start("wizard");
  PostMessageA(wizard_, WM_USER + 103, 0, 0);
  ASSERT_TRUE(EndsSoon());
  // Ended as a dialog, not killed: the tear-down has closed the log.
  EXPECT_EQ(1, e2e::CountOf(e2e::ReadLog(), "<end "));
}

TEST_F(WizardTest, LicenceAppearsAfterOneSecondAndGatesNext) {
  Start("wizard");
  const DWORD pressed = GetTickCount();
  GoToLicence();
  EXPECT_GE(GetTickCount() - pressed, 700u);
  const std::string licence =
      e2e::ReadFileText(std::string(RAVEN_SOURCE_DIR) + "/tests/fixtures/wizard/licence-crlf.txt");
  ASSERT_NE(std::string::npos, licence.find("\r\n"));
  EXPECT_EQ(licence, Text(kLicence));
  EXPECT_TRUE(e2e::ButtonChecked(wizard_, kDecline));
  EXPECT_FALSE(Enabled(kNext));
  // The page keeps the title and status line it came with.
  EXPECT_EQ(Str(203), Text(kTitle));
  EXPECT_EQ(Str(205), Text(kStatus));
  Shot("2-licence");

  e2e::Click(wizard_, kAccept);
  EXPECT_TRUE(e2e::WaitFor([&] { return Enabled(kNext); }));
  e2e::Click(wizard_, kDecline);
  EXPECT_TRUE(e2e::WaitFor([&] { return !Enabled(kNext); }));
  Press(kCancel);
  EXPECT_TRUE(EndsSoon());
}

TEST_F(WizardTest, LicenceEndsAtItsFirstZeroByte) {
  Start("wizard-zero");
  GoToLicence();
  EXPECT_EQ("Shown part of the licence.\r\nSecond line.", Text(kLicence));
}

TEST_F(WizardTest, FailedDownloadLeadsToTheManualInstallationAndOn) {
  RegisterRecorderAsWebPageOpener();
  Start("wizard");
  GoToLicence();
  AcceptAndGoOn();
  // The connection to the web host is refused: step 9.
  ASSERT_TRUE(WaitText(kTitle, Str(218)));
  EXPECT_TRUE(Visible(kError));
  EXPECT_EQ(Str(216), Text(kError));
  EXPECT_TRUE(Enabled(kNext));
  Shot("9-download-failed");

  Press(kNext);
  ASSERT_TRUE(WaitText(kTitle, "Continue Installation"));
  EXPECT_EQ(Str(219), Text(kError));
  const std::string page = Str(304);
  ASSERT_TRUE(e2e::WaitFor([&] { return Lines(e2e::ReadFileText(opened_)) == 1; }));
  EXPECT_NE(std::string::npos, e2e::ReadFileText(opened_).find(" " + page + "\r\n"))
      << e2e::ReadFileText(opened_);
  Shot("11-manual-install");

  // Still missing: the page opens again and the wizard stays.
  Press(kNext);
  ASSERT_TRUE(e2e::WaitFor([&] { return Lines(e2e::ReadFileText(opened_)) == 2; }));

  // Installed by hand: the setup program runs once, and the wizard ends
  // with it; Next cannot start a second run meanwhile.
  e2e::SetFrameworkInstalled(true);
  Press(kNext);
  ASSERT_TRUE(e2e::WaitFor([] { return FindWindowA(nullptr, kSetupTitle) != nullptr; }));
  EXPECT_FALSE(Enabled(kNext));
  ASSERT_TRUE(EndsSoon(30000));
  EXPECT_EQ(1, Lines(e2e::ReadFileText(record_)));
  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"Seeking next step for step 11",
                                 "Starting installation thread", "New step reached : 5"}))
      << log;
  EXPECT_EQ(1, e2e::CountOf(log, "Starting installation thread"));
}

TEST_F(WizardTest, FailedFrameworkInstallOffersTheManualInstallation) {
  Start("wizard-install");
  // Not a program: starting it fails.
  besideExe_ = exe_.substr(0, exe_.rfind('\\') + 1) + "dotnetfx.exe";
  ASSERT_TRUE(e2e::WriteFileText(besideExe_, "plain text, not a program\r\n"));
  GoToLicence();
  AcceptAndGoOn();
  ASSERT_TRUE(WaitText(kTitle, Str(218)));
  EXPECT_EQ(Str(220), Text(kError));
  Shot("10-install-failed");
  const std::string log = e2e::ReadLog();
  // The install's end is no step change of its own: only the layout is made.
  EXPECT_EQ(1, e2e::CountOf(log, "Updating controls for step 10"));
  EXPECT_EQ(0, e2e::CountOf(log, "New step reached : 10"));
  Press(kCancel);
  EXPECT_TRUE(EndsSoon());
}

TEST_F(WizardTest, FrameworkPresentPreparesThenRunsTheSetupProgram) {
  e2e::SetFrameworkInstalled(true);
  Start("wizard");
  Press(kNext);
  ASSERT_TRUE(WaitText(kStatus, Str(213)));
  Shot("5-preparing");
  ASSERT_TRUE(WaitText(kStatus, Str(214)));
  Shot("6-running-setup");
  ASSERT_TRUE(EndsSoon(30000));
  EXPECT_EQ(1, Lines(e2e::ReadFileText(record_)));
}

TEST_F(WizardTest, DownloadAndInstallShowTheirProgress) {
  const std::string scratch = e2e::TempDir() + "RavWizardServer\\";
  CreateDirectoryA(scratch.c_str(), nullptr);
  // The redistributable the variant's pin was made from, served slowly
  // enough for the progress to be seen.
  loopback::Server server;
  ASSERT_TRUE(server.Start(e2e::FixtureExe("http_server.exe"),
                           e2e::BuildDir() + "\\win32\\demo\\dotnetfx.exe",
                           "--mode slow --piece 65536 --pause 250", scratch));
  loopback::ProxySetting proxy(server.Port());
  SetEnvironmentVariableA("RAVEN_REDIST_DELAY_MS", "1500");  // time to see unpacking
  Start("wizard");
  GoToLicence();
  AcceptAndGoOn();

  ASSERT_TRUE(WaitText(kDetail, Str(207)));
  const std::string format = Str(208);
  const std::string head = format.substr(0, format.find("%s"));
  std::string status;
  ASSERT_TRUE(e2e::WaitFor([&] {
    status = Text(kStatus);
    return status.compare(0, head.size(), head) == 0 &&
           status.find(" KB - ") != std::string::npos;
  })) << status;
  EXPECT_EQ("%).", status.substr(status.size() - 3)) << status;
  EXPECT_TRUE(Visible(kProgress));
  const LRESULT position = SendMessageA(GetDlgItem(wizard_, kProgress), PBM_GETPOS, 0, 0);
  EXPECT_GT(position, 0);
  EXPECT_LE(position, 100);
  Shot("3-downloading");

  ASSERT_TRUE(e2e::WaitFor([&] { return Text(kDetail) == Str(210); }, 60000));
  EXPECT_EQ(Str(209), Text(kStatus));
  Shot("4-installing");
  ASSERT_TRUE(EndsSoon(120000));
  EXPECT_EQ(1, Lines(e2e::ReadFileText(record_)));
  server.Stop();
  DeleteFileA((scratch + "server.port").c_str());
  DeleteFileA((scratch + "server-requests.log").c_str());
  RemoveDirectoryA(scratch.c_str());
}

}  // namespace
