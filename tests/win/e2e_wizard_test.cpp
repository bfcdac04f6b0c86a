// The wizard window driven as its user would: the pages, their texts and
// controls, Cancel, the licence, and the way to a manual installation when
// the framework can be neither downloaded nor installed. Every page is
// saved as a screenshot into <build>/screenshots.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/wizard_session.h"

namespace {

const char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

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

class WizardTest : public e2e::WizardSession {
 protected:
  void SetUp() override {
    WizardSession::SetUp();
    // A direct connection to 127.0.0.1:80, where nothing listens.
    DWORD off = 0;
    proxy_.Set(REG_DWORD, &off, sizeof off);
    record_ = ScratchFile("wizard-record.txt");
    opened_ = ScratchFile("wizard-opened.txt");
    SetEnv("RAVEN_RECORDER_FILE", opened_);
    SetEnv("RAVEN_SETUP_RECORD", record_);
    SetEnv("RAVEN_SETUP_AUTOCLOSE", "1500");
  }

  void RegisterRecorderAsWebPageOpener() {
    std::string command = "\"" + e2e::FixtureExe("recorder.exe") + "\" \"%1\"";
    opener_.Set(REG_SZ, command.c_str(), static_cast<DWORD>(command.size() + 1));
  }

  SavedValue proxy_{HKEY_CURRENT_USER, kInternetSettings, "ProxyEnable"};
  SavedValue opener_{HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", nullptr};
  std::string record_, opened_;
};

TEST_F(WizardTest, WelcomePageAndCancel) {
  Start("wizard");
  char title[64] = {};
  GetWindowTextA(wizard_, title, sizeof title);
  EXPECT_STREQ("Ravenstock Setup", title);
  EXPECT_EQ(Str(203), Text(IDC_TITLE));
  EXPECT_EQ(Str(204), Text(IDC_STATUS_TEXT));
  EXPECT_EQ("", Text(IDC_DETAIL_TEXT));
  EXPECT_TRUE(Enabled(IDOK));
  EXPECT_TRUE(Enabled(IDCANCEL));
  for (int hidden : {IDC_PROGRESS, IDC_ERROR_TEXT, IDC_LICENSE, IDC_LICENSE_PROMPT,
                     IDC_ACCEPT, IDC_DECLINE})
    EXPECT_FALSE(Visible(hidden)) << "control " << hidden;
  Shot("wizard-0-welcome");

  Press(IDCANCEL);
  ASSERT_TRUE(EndsSoon());
  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"<begin ", "Updating controls for step 0",
                                 "Controls updated", "<end "})) << log;
  EXPECT_EQ(0, e2e::CountOf(log, "Seeking next step")) << log;
}

TEST_F(WizardTest, CancelWhileFrameworkRequiredEndsBeforeTheLicence) {
  Start("wizard");
  Press(IDOK);
  ASSERT_TRUE(WaitText(IDC_STATUS_TEXT, Str(205)));
  EXPECT_FALSE(Enabled(IDOK));
  Shot("wizard-1-framework-required");
  e2e::Click(wizard_, IDCANCEL);
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
  EXPECT_EQ(licence, Text(IDC_LICENSE));
  EXPECT_TRUE(e2e::ButtonChecked(wizard_, IDC_DECLINE));
  EXPECT_FALSE(Enabled(IDOK));
  // The page keeps the title and status line it came with.
  EXPECT_EQ(Str(203), Text(IDC_TITLE));
  EXPECT_EQ(Str(205), Text(IDC_STATUS_TEXT));
  Shot("wizard-2-licence");

  e2e::Click(wizard_, IDC_ACCEPT);
  EXPECT_TRUE(e2e::WaitFor([&] { return Enabled(IDOK); }));
  e2e::Click(wizard_, IDC_DECLINE);
  EXPECT_TRUE(e2e::WaitFor([&] { return !Enabled(IDOK); }));
  Press(IDCANCEL);
  EXPECT_TRUE(EndsSoon());
}

TEST_F(WizardTest, LicenceEndsAtItsFirstZeroByte) {
  Start("wizard-zero");
  GoToLicence();
  EXPECT_EQ("Shown part of the licence.\r\nSecond line.", Text(IDC_LICENSE));
}

TEST_F(WizardTest, FailedDownloadLeadsToTheManualInstallationAndOn) {
  RegisterRecorderAsWebPageOpener();
  Start("wizard");
  AcceptLicence();
  // The connection to the web host is refused: step 9.
  ASSERT_TRUE(WaitText(IDC_TITLE, Str(218)));
  EXPECT_TRUE(Visible(IDC_ERROR_TEXT));
  EXPECT_EQ(Str(216), Text(IDC_ERROR_TEXT));
  EXPECT_TRUE(Enabled(IDOK));
  Shot("wizard-9-download-failed");

  Press(IDOK);
  ASSERT_TRUE(WaitText(IDC_TITLE, "Continue Installation"));
  EXPECT_EQ(Str(219), Text(IDC_ERROR_TEXT));
  ASSERT_TRUE(e2e::WaitFor([&] { return Lines(e2e::ReadFileText(opened_)) == 1; }));
  EXPECT_NE(std::string::npos, e2e::ReadFileText(opened_).find(" " + Str(304) + "\r\n"))
      << e2e::ReadFileText(opened_);
  Shot("wizard-11-manual-install");

  // Still missing: the page opens again and the wizard stays.
  Press(IDOK);
  ASSERT_TRUE(e2e::WaitFor([&] { return Lines(e2e::ReadFileText(opened_)) == 2; }));

  // Installed by hand: the setup program runs once, and the wizard ends
  // with it; Next cannot start a second run meanwhile.
  e2e::SetFrameworkInstalled(true);
  Press(IDOK);
  ASSERT_TRUE(e2e::WaitFor([] { return !e2e::SetupProgramWindows().empty(); }));
  EXPECT_FALSE(Enabled(IDOK));
  ASSERT_TRUE(EndsSoon(30000));
  EXPECT_EQ(1, Lines(e2e::ReadFileText(record_)));
  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"Seeking next step for step 11",
                                 "Starting installation thread", "New step reached : 5"}))
      << log;
  EXPECT_EQ(1, e2e::CountOf(log, "Starting installation thread"));
}

TEST_F(WizardTest, RedistributableThatIsNoProgramOffersTheManualInstallation) {
  const std::string text = ScratchFile("not-a-program.txt");
  ASSERT_TRUE(e2e::WriteFileText(text, "plain text, not a program\r\n"));
  PutBesideExe("wizard-install", text);
  Start("wizard-install");
  AcceptLicence();
  ASSERT_TRUE(WaitText(IDC_TITLE, Str(218)));
  EXPECT_EQ(Str(220), Text(IDC_ERROR_TEXT));
  Shot("wizard-10-install-failed");
  const std::string log = e2e::ReadLog();
  // The install's end is no step change of its own: only the layout is made.
  EXPECT_EQ(1, e2e::CountOf(log, "Updating controls for step 10"));
  EXPECT_EQ(0, e2e::CountOf(log, "New step reached : 10"));
  Press(IDCANCEL);
  EXPECT_TRUE(EndsSoon());
}

}  // namespace
