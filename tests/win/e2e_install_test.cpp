// The real bootstrapper on a machine without the framework: the stand-in
// redistributable beside the exe unpacks the test package, the wizard
// installs it with progress and then runs the setup program; a failed
// unpack leads to the manual installation, and Cancel during the
// installation ends the wizard.
#include <windows.h>
#include <msi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/detection.h"
#include "support/e2e.h"

namespace {

const int kNext = 1, kCancel = 2, kProgress = 1002, kStatus = 1003,
          kTitle = 1008, kDetail = 1009, kAccept = 1012, kLicence = 1014,
          kError = 1016;
const char kFrameworkProduct[] = "{0F482E6F-842E-40EF-8E3F-C770D0AFF0EB}";
const char* const kEnvironment[] = {
    "RAVEN_REDIST_RECORD", "RAVEN_REDIST_EXIT",      "RAVEN_REDIST_PACKAGE",
    "RAVEN_REDIST_DELAY_MS", "RAVEN_PACKAGE_PAUSE_MS", "RAVEN_SETUP_RECORD",
    "RAVEN_SETUP_AUTOCLOSE"};

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
  const std::string digits = text.substr(
      prefix.size(), text.size() - prefix.size() - suffix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(digits.c_str());
}

void RemoveFrameworkPackage() {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  MsiConfigureProductA(kFrameworkProduct, INSTALLLEVEL_DEFAULT,
                       INSTALLSTATE_ABSENT);
  e2e::SetFrameworkInstalled(false);
}

class InstallE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveFrameworkPackage();
    ASSERT_TRUE(IsFrameworkMissing());
    e2e::DeleteLog();
    CreateDirectoryA((e2e::BuildDir() + "\\screenshots").c_str(), nullptr);
    redistRecord_ = e2e::TempDir() + "install-redist-record.txt";
    setupRecord_ = e2e::TempDir() + "install-setup-record.txt";
    DeleteFileA(redistRecord_.c_str());
    DeleteFileA(setupRecord_.c_str());
    SetEnvironmentVariableA("RAVEN_REDIST_RECORD", redistRecord_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_RECORD", setupRecord_.c_str());
    SetEnvironmentVariableA("RAVEN_SETUP_AUTOCLOSE", "1000");
  }

  void TearDown() override {
    bootstrapper_.Kill();
    if (!besideExe_.empty()) DeleteFileA(besideExe_.c_str());
    for (const char* name : kEnvironment) SetEnvironmentVariableA(name, nullptr);
    DeleteFileA(redistRecord_.c_str());
    DeleteFileA(setupRecord_.c_str());
    RemoveFrameworkPackage();
  }

  // The stand-in redistributable, as the demo build pins it.
  static std::string Redistributable() {
    return e2e::BuildDir() + "\\win32\\demo\\dotnetfx.exe";
  }

  void PutRedistributableBesideExe(const std::string& variant) {
    const std::string exe = e2e::VariantExe(variant);
    besideExe_ = exe.substr(0, exe.rfind('\\') + 1) + "dotnetfx.exe";
    ASSERT_TRUE(CopyFileA(Redistributable().c_str(), besideExe_.c_str(), FALSE))
        << Redistributable();
  }

  void Start(const std::string& variant) {
    exe_ = e2e::VariantExe(variant);
    ASSERT_TRUE(e2e::PathExists(exe_)) << exe_;
    bootstrapper_ = e2e::Process(exe_, "");
    ASSERT_TRUE(bootstrapper_.Started());
    wizard_ = e2e::WaitForWizard(bootstrapper_.Id());
    ASSERT_NE(nullptr, wizard_);
  }

  // Welcome, framework required, licence accepted, Next: the framework
  // step begins.
  void AcceptLicence() {
    Press(kNext);
    ASSERT_TRUE(e2e::WaitFor([&] { return Visible(kLicence); }));
    e2e::Click(wizard_, kAccept);
    Press(kNext);
  }

  std::string Str(UINT id) const { return ExeString(exe_, id); }
  std::string Text(int id) const { return e2e::ControlText(wizard_, id); }
  bool Visible(int id) const { return e2e::ControlVisible(wizard_, id); }
  bool Enabled(int id) const { return e2e::ControlEnabled(wizard_, id); }
  int InstallPercent() const { return PercentIn(Text(kStatus), Str(212)); }

  // A click as a user could make it: only on an enabled button.
  void Press(int id) {
    ASSERT_TRUE(e2e::WaitFor([&] { return Enabled(id); })) << "button " << id;
    e2e::Click(wizard_, id);
  }

  void Shot(const std::string& page) {
    RedrawWindow(wizard_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(100);  // let the other process paint before the copy
    EXPECT_TRUE(e2e::Screenshot(
        e2e::BuildDir() + "\\screenshots\\install-" + page + ".bmp", wizard_));
  }

  // The worker's records, in the order it must write them.
  static std::vector<std::string> WorkerRecords(const std::string& program) {
    return {"Starting .net installation thread for : " + program + ", folder : ",
            ".net installation process successfully started",
            "Unpacking .net setup", ".net setup unpacked", ">Installing .net<",
            "Installing .net : Ok", "Terminating .net installation thread"};
  }

  void ExpectRedistributableStartedFrom(const std::string& folder) {
    const std::string record = e2e::ReadFileText(redistRecord_);
    const std::string head =
        " /q:a /c:\"msiexec /q /a netfx.msi TARGETDIR=\"\"";
    EXPECT_EQ(0u, record.find(head)) << record;
    EXPECT_NE(std::string::npos, record.find("\\dotnetfx\\\"\"\"\n" + folder + "\n"))
        << record;
  }

  std::string exe_, besideExe_, redistRecord_, setupRecord_;
  e2e::Process bootstrapper_;
  HWND wizard_ = nullptr;
};

TEST_F(InstallE2eTest, RedistributableBesideTheExeInstallsWithProgress) {
  // Slow enough to watch: the unpack and the installation each pause.
  SetEnvironmentVariableA("RAVEN_REDIST_DELAY_MS", "1500");
  SetEnvironmentVariableA("RAVEN_PACKAGE_PAUSE_MS", "2500");
  PutRedistributableBesideExe("install");
  Start("install");
  AcceptLicence();

  ASSERT_TRUE(e2e::WaitFor([&] { return Text(kStatus) == Str(209); }));
  EXPECT_EQ(Str(210), Text(kDetail));
  EXPECT_FALSE(Enabled(kNext));
  Shot("4-unpacking");

  // The installer's reports move the bar and the percentage with it; the
  // package holds the end of its installation long enough to look.
  ASSERT_TRUE(e2e::WaitFor([&] { return InstallPercent() >= 0; }))
      << Text(kStatus);
  EXPECT_TRUE(Visible(kProgress));
  ASSERT_TRUE(e2e::WaitFor([&] { return InstallPercent() == 100; }))
      << Text(kStatus);
  Shot("4-installing");

  // Installed, the setup program ran and closed, the wizard ended.
  ASSERT_TRUE(bootstrapper_.Wait(60000));
  EXPECT_FALSE(IsFrameworkMissing());
  EXPECT_FALSE(e2e::ReadFileText(setupRecord_).empty());
  const std::string exeFolder = exe_.substr(0, exe_.rfind('\\'));
  ExpectRedistributableStartedFrom(exeFolder);

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, WorkerRecords(besideExe_))) << log;
  EXPECT_TRUE(e2e::InOrder(log, {"Installing .net : Ok", "New step reached : 6"}))
      << log;
  EXPECT_EQ(std::string::npos, log.find("<error ")) << log;
}

TEST_F(InstallE2eTest, FailedUnpackOffersTheManualInstallation) {
  SetEnvironmentVariableA("RAVEN_REDIST_EXIT", "1");
  PutRedistributableBesideExe("install");
  Start("install");
  AcceptLicence();

  ASSERT_TRUE(e2e::WaitFor([&] { return Text(kTitle) == Str(218); }));
  EXPECT_EQ(Str(220), Text(kError));
  EXPECT_TRUE(Visible(kError));
  EXPECT_TRUE(Enabled(kNext));
  EXPECT_TRUE(Enabled(kCancel));
  Shot("10-unpack-failed");

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {"Unpacking .net setup", ".net setup unpacked",
                                 "Terminating .net installation thread"}))
      << log;
  EXPECT_EQ(std::string::npos, log.find(">Installing .net<")) << log;
  EXPECT_TRUE(IsFrameworkMissing());

  Press(kCancel);
  EXPECT_TRUE(bootstrapper_.Wait(10000));
  EXPECT_TRUE(e2e::ReadFileText(setupRecord_).empty());
}

TEST_F(InstallE2eTest, CancelDuringTheInstallationEndsTheWizard) {
  // The cancelled package holds the installation until Cancel was pressed,
  // then ends it as a user's Cancel would.
  SetEnvironmentVariableA("RAVEN_REDIST_PACKAGE", "cancel");
  SetEnvironmentVariableA("RAVEN_PACKAGE_PAUSE_MS", "3000");
  PutRedistributableBesideExe("install");
  Start("install");
  AcceptLicence();

  ASSERT_TRUE(e2e::WaitFor([&] { return InstallPercent() >= 0; }))
      << Text(kStatus);
  Press(kCancel);
  ASSERT_TRUE(bootstrapper_.Wait(30000));

  const std::string log = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log, {">Installing .net<", "Error while installing .net",
                                 "status=\"1602\"",
                                 "Terminating .net installation thread"}))
      << log;
  EXPECT_EQ(std::string::npos, log.find("Installing .net : Ok")) << log;
  EXPECT_EQ(0, e2e::CountOf(log, "Updating controls for step 10")) << log;
  EXPECT_TRUE(e2e::ReadFileText(setupRecord_).empty());
  EXPECT_TRUE(IsFrameworkMissing());
}

}  // namespace
