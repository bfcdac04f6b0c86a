// The real bootstrapper driven from outside as its user would drive it. A
// row names the variant, the set-up, what the user does and waits for, and
// what the log, the stand-ins and the work folders show at the end. Records
// are read after the program's end or after waiting for the record itself.
#include <windows.h>
#include <commctrl.h>
#include <msi.h>
#include <shellapi.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "../fixtures/http_server/loopback_server.h"
#include "framework/detection.h"
#include "resource_ids.h"
#include "support/e2e.h"

namespace {

using e2e::CountOf;
using e2e::InOrder;
using e2e::TempDir;
const char kRequest[] =
    "GET http://downloads.ravenstock.invalid:80/downloads/framework.net.1.1.exe HTTP/1.0\r\n";
const char kGot[] = "Downloading .net : Resource downloaded";

// What happened; anything not named must not have. kAsked: the web host
// got exactly the request for the framework; kUnasked: no request at all.
enum Outcome { kSetupRan = 1, kRedistRan = 2, kInstalled = 4, kErrors = 8,
               kAsked = 32, kUnasked = 64, kNoLog = 128 };

class Scenario;
using Check = std::function<void(Scenario&, HWND)>;  // with the message box, if any

struct Row {
  std::string name, variant;
  std::string walk;  // the set-up, the start, then actions and waits (Scenario::Do)
  std::vector<std::string> log, absent;  // records in this order; never
  int outcome;
  Check during, after;  // at "x" in the walk; after the checks
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// The number before "%)." in a status line made from format, or -1.
int Percent(const std::string& line, const std::string& format) {
  const size_t end = line.rfind("%)."), start = line.find_last_of(" (", end);
  return line.compare(0, format.find('%'), format, 0, format.find('%')) == 0 && end != line.npos &&
         end + 3 == line.size() && start + 1 < end ? std::atoi(line.c_str() + start + 1) : -1;
}

// Files matching folder + prefix + "*" and below, by relative name, sorted.
std::vector<std::string> Files(const std::string& folder, const std::string& prefix = "") {
  std::vector<std::string> out;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + prefix + "*").c_str(), &fd);
  for (BOOL ok = h != INVALID_HANDLE_VALUE; ok; ok = FindNextFileA(h, &fd)) {
    const std::string name = fd.cFileName;
    if (name == "." || name == "..") continue;
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) out.push_back(prefix + name);
    else for (const std::string& f : Files(folder, prefix + name + "\\")) out.push_back(f);
  }
  if (h != INVALID_HANDLE_VALUE) FindClose(h);
  std::sort(out.begin(), out.end());
  return out;
}

std::string DemoRedist() { return e2e::BuildDir() + "\\win32\\demo\\dotnetfx.exe"; }

void RemoveTree(const std::string& folder) {
  std::string from = folder.substr(0, folder.find_last_not_of('\\') + 1) + '\0';
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationA(&op);
}

std::vector<HWND> SetupProgramWindows() {
  std::vector<HWND> found;
  const char* title = "Ravenstock Setup Program (demo)";
  for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, nullptr, title)) != nullptr;)
    found.push_back(h);
  return found;
}

// Leaves no framework, process, window, setting or file behind.
void CleanUp() {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  for (const char* product : {"{0F482E6F-842E-40EF-8E3F-C770D0AFF0EB}",   // framework
                              "{CE999845-B5D4-4DC0-AD94-77D6E05E1023}"})  // asks for a restart
    MsiConfigureProductA(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
  e2e::SetFrameworkInstalled(false);
  for (HWND h : SetupProgramWindows()) PostMessageA(h, WM_CLOSE, 0, 0);
  e2e::WaitFor([] { return SetupProgramWindows().empty(); }, 10000);
}

class Scenario : public ::testing::TestWithParam<Row> {
 public:
  void SetUp() override {
    CleanUp();
    e2e::DeleteLog();
    before_ = e2e::WorkFolders();
    CreateDirectoryA(cwd_.c_str(), nullptr);
    for (const char* name : {"SETUP_RECORD", "REDIST_RECORD", "RECORDER_FILE"}) {
      DeleteFileA((TempDir() + name).c_str());
      SetEnv(std::string("RAVEN_") + name, TempDir() + name);
    }
  }
  void TearDown() override {
    for (const auto& copy : Copies()) {  // left by a failure
      HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, copy.first);
      if (h != nullptr && TerminateProcess(h, 1)) WaitForSingleObject(h, 5000);
      if (h != nullptr) CloseHandle(h);
    }
    if (user_.hProcess != nullptr) CloseHandle(user_.hProcess);
    if (!copy_.empty()) DeleteFileA(exe_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + copy_).c_str());
    bootstrapper_.Kill();
    CleanUp();
    proxy_.reset();
    server_.Stop();
    for (const std::string& name : env_) SetEnvironmentVariableA(name.c_str(), nullptr);
    if (!beside_.empty()) DeleteFileA(beside_.c_str());
    for (const std::string& folder : Fresh()) RemoveTree(folder);
    RemoveTree(cwd_);
    if (!opener_.empty()) SetOpener(opener_);
    e2e::DeleteLog();
  }
  void SetEnv(const std::string& name, const std::string& value) {
    SetEnvironmentVariableA(name.c_str(), value.c_str());
    env_.push_back(name);
  }
  std::vector<std::string> Fresh() const {  // work folders made since SetUp
    std::vector<std::string> fresh;
    for (const std::string& f : e2e::WorkFolders())
      if (std::find(before_.begin(), before_.end(), f) == before_.end()) fresh.push_back(f);
    return fresh;
  }
  std::string Record(const char* name) const { return e2e::ReadFileText(TempDir() + name); }
  std::string Str(UINT id) const {  // from the exe's own string table
    HMODULE m = LoadLibraryExA(exe_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char buf[512] = {};
    if (m != nullptr && LoadStringA(m, id, buf, sizeof buf) >= 0) FreeLibrary(m);
    return buf;
  }
  std::string Text(int id) const { return e2e::ControlText(wizard_, id); }
  bool Visible(int id) const { return e2e::ControlVisible(wizard_, id); }
  bool Enabled(int id) const { return e2e::ControlEnabled(wizard_, id); }
  void Run(const Row& row);
  std::map<DWORD, DWORD> Copies() const {  // running copies of the exe: id, parent's id
    std::map<DWORD, DWORD> found;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 e = {};
    e.dwSize = sizeof e;
    for (BOOL ok = Process32First(snap, &e); ok; ok = Process32Next(snap, &e))
      if (!copy_.empty() && lstrcmpiA(e.szExeFile, copy_.c_str()) == 0)
        found[e.th32ProcessID] = e.th32ParentProcessID;
    CloseHandle(snap);
    return found;
  }

  std::string exe_, copy_, setupCommand_, setupFolder_, log_;
  PROCESS_INFORMATION user_ = {};
  e2e::Process bootstrapper_;
  HWND wizard_ = nullptr;

 private:
  void Do(const Row& row, const std::string& action);
  void SetOpener(const std::string& command) {  // the shell's program for web pages
    RegSetValueA(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", REG_SZ, command.c_str(), 0);
  }
  std::vector<std::string> before_, env_;
  std::string cwd_ = TempDir() + "scenario-cwd\\", opener_, beside_;
  DWORD pressedAt_ = 0;
  loopback::Server server_;
  std::unique_ptr<loopback::ProxySetting> proxy_;
};

void Scenario::Do(const Row& row, const std::string& a) {
  SCOPED_TRACE(a);
  const size_t colon = a.find(':');
  const std::string key = a.substr(0, colon), value = colon == a.npos ? "" : a.substr(colon + 1);
  const int id = std::atoi(value.c_str());
  std::string text = id != 0 ? Str(id) : value;  // a string id, or a literal with "_" for " "
  std::replace(text.begin(), text.end(), '_', ' ');
  const int control = key == "T" ? IDC_TITLE : key == "S" ? IDC_STATUS_TEXT
                      : key == "D" ? IDC_DETAIL_TEXT : IDC_ERROR_TEXT;
  auto percent = [&](int format) { return Percent(Text(IDC_STATUS_TEXT), Str(format)); };
  std::vector<int> seen;
  HWND box = nullptr;
  if (key == "serve") {  // the loopback web host with these options, as the proxy
    ASSERT_TRUE(server_.Start(e2e::FixtureExe("http_server.exe"), DemoRedist(), text,
                              TempDir() + "loopback-"));
    proxy_.reset(new loopback::ProxySetting(server_.Port()));
  } else if (a == "refused") {  // a proxy where nothing listens
    proxy_.reset(new loopback::ProxySetting(1));
  } else if (key == "env") {
    SetEnv(value.substr(0, value.find('=')), value.substr(value.find('=') + 1));
  } else if (key == "beside") {  // the redistributable, or a text, as the exe's own copy
    beside_ = exe_.substr(0, exe_.rfind('\\') + 1) + "dotnetfx.exe";
    ASSERT_TRUE(value == "redist" ? CopyFileA(DemoRedist().c_str(), beside_.c_str(), FALSE) != 0
                                  : e2e::WriteFileText(beside_, "plain text, not a program\r\n"));
  } else if (a == "opener") {  // the recorder opens web pages
    char old[MAX_PATH * 2] = {};
    LONG size = sizeof old;
    RegQueryValueA(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", old, &size);
    opener_ = old;
    SetOpener("\"" + e2e::FixtureExe("recorder.exe") + "\" \"%1\"");
  } else if (a == "copy") {  // a name of its own: its processes apart, Wine's settings its own
    copy_ = "RavCopy" + std::to_string(GetCurrentProcessId()) + ".exe";
    exe_ = exe_.substr(0, exe_.rfind('\\') + 1) + copy_;
    ASSERT_TRUE(CopyFileA(e2e::VariantExe(row.variant).c_str(), exe_.c_str(), FALSE));
  } else if (a == "nt40") {  // the copy sees Windows NT 4.0
    ASSERT_EQ(0, SHSetValueA(HKEY_CURRENT_USER, ("Software\\Wine\\AppDefaults\\" + copy_).c_str(),
                             "Version", REG_SZ, "nt40", 5));
  } else if (key == "user") {  // started with Administrators deny-only, as a user's token is
    HANDLE token = nullptr, restricted = nullptr;
    SID_IDENTIFIER_AUTHORITY nt = {SECURITY_NT_AUTHORITY};
    PSID admins = nullptr;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token);
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                             0, 0, 0, 0, &admins);
    SID_AND_ATTRIBUTES deny = {admins, 0};
    std::string line = "\"" + exe_ + "\" " + text;
    EXPECT_TRUE(CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted) &&
                CreateProcessAsUserA(restricted, exe_.c_str(), &line[0], nullptr, nullptr, FALSE,
                                     0, nullptr, nullptr, &si, &user_));
    for (HANDLE h : {token, restricted, user_.hThread}) CloseHandle(h);
    FreeSid(admins);
  } else if (key == "start" || key == "launch") {  // with the wizard; without, in cwd_
    bootstrapper_ = e2e::Process(exe_, text, key == "start" ? "" : cwd_);
    ASSERT_TRUE(bootstrapper_.Started()) << exe_;
    wizard_ = key == "start" ? e2e::WaitForWizard(bootstrapper_.Id()) : nullptr;
    ASSERT_TRUE(key != "start" || wizard_ != nullptr) << "no wizard";
  } else if (a == "next" || a == "cancel") {  // only as a user could: when enabled
    const int button = a == "next" ? IDOK : IDCANCEL;
    ASSERT_TRUE(e2e::WaitFor([&] { return Enabled(button); }));
    e2e::Click(wizard_, button);
    pressedAt_ = GetTickCount();
  } else if (a == "licence") {
    ASSERT_TRUE(e2e::WaitFor([&] { return Visible(IDC_LICENSE); }));
  } else if (a == "accept" || a == "decline") {
    e2e::Click(wizard_, a == "accept" ? IDC_ACCEPT : IDC_DECLINE);
  } else if (a == "enabled" || a == "disabled") {
    EXPECT_TRUE(e2e::WaitFor([&] { return Enabled(IDOK) == (a == "enabled"); }));
  } else if (key == "T" || key == "S" || key == "D" || key == "E") {
    ASSERT_TRUE(e2e::WaitFor([&] { return Text(control) == text; }, 60000)) << Text(control);
    EXPECT_TRUE(key != "E" || Visible(IDC_ERROR_TEXT));
  } else if (key == "after") {  // at least this long since the last press
    EXPECT_GE(GetTickCount() - pressedAt_, static_cast<DWORD>(id));
  } else if (key == "dl") {  // the download line and the bar between 0 and 100, or any line
    ASSERT_TRUE(e2e::WaitFor([&] {
      const int p = percent(208);
      return value == "any" ? p >= 0 : p > 0 && p < 100;
    }));
    const LRESULT pos = SendMessageA(GetDlgItem(wizard_, IDC_PROGRESS), PBM_GETPOS, 0, 0);
    // Next stays disabled: pressed now it would fail a download still running.
    EXPECT_TRUE(value == "any" || (Visible(IDC_PROGRESS) && pos > 0 && pos <= 100 && !Enabled(IDOK)))
        << pos;
  } else if (a == "dl-zero") {  // without a length: 0 percent until the unpack
    ASSERT_TRUE(e2e::WaitFor([&] {
      if (percent(208) >= 0) seen.push_back(percent(208));
      return Text(IDC_STATUS_TEXT) == Str(IDS_UNPACKING);
    }, 60000));
    EXPECT_TRUE(!seen.empty() && *std::max_element(seen.begin(), seen.end()) == 0);
  } else if (key == "inst") {  // the installer's percentage, or that it reached value
    ASSERT_TRUE(e2e::WaitFor([&] { return value.empty() ? percent(212) >= 0 : percent(212) == id; },
                             60000)) << Text(IDC_STATUS_TEXT);
    EXPECT_TRUE(Visible(IDC_PROGRESS));
  } else if (a == "gone") {  // a failed download is deleted before step 9 is left
    ASSERT_TRUE(e2e::WaitForLog("Terminating .net download thread"));
    const std::string log = e2e::ReadLog(), key = "local file : \"";
    const size_t at = log.find(key) + key.size();
    const std::string target = log.substr(at, log.find('"', at) - at);
    EXPECT_NE(std::string::npos, target.find("\\dotnetfx.exe")) << log;
    EXPECT_FALSE(e2e::PathExists(target)) << target;
  } else if (a == "hidden") {
    EXPECT_TRUE(e2e::WaitFor([&] { return !IsWindowVisible(wizard_); }));
  } else if (a == "stays") {
    EXPECT_FALSE(bootstrapper_.Wait(1000)) << "ended before the setup program";
  } else if (a == "started") {  // the setup program, in the one new work folder
    ASSERT_TRUE(e2e::WaitFor([&] { return Record("SETUP_RECORD").find('\n') != a.npos; }));
    const std::string line = Record("SETUP_RECORD");  // "command<TAB>folder\r\n"
    setupCommand_ = line.substr(0, line.find('\t'));
    setupFolder_ = line.substr(line.find('\t') + 1, line.find('\r') - line.find('\t') - 1);
    ASSERT_EQ(1u, Fresh().size());
    EXPECT_EQ(0, lstrcmpiA(Fresh()[0].c_str(), setupFolder_.c_str())) << setupFolder_;
    EXPECT_TRUE(e2e::PathExists(setupFolder_ + "\\setup.exe"));
  } else if (a == "setup" || a == "close") {  // it shows up; its user closes it
    ASSERT_TRUE(e2e::WaitFor([] { return !SetupProgramWindows().empty(); }));
    if (a == "close") PostMessageA(SetupProgramWindows()[0], WM_CLOSE, 0, 0);
  } else if (a == "nowindow") {
    EXPECT_EQ(nullptr, e2e::FindTopWindow(bootstrapper_.Id(), "Ravenstock Setup", false));
  } else if (key == "box") {  // of the started program, else of a copy the user's one started
    ASSERT_TRUE(e2e::WaitFor([&] {
      for (const auto& c : Copies())
        if (c.first != user_.dwProcessId && box == nullptr) box = e2e::FindMessageBox(c.first);
      if (bootstrapper_.Started()) box = e2e::FindMessageBox(bootstrapper_.Id());
      return box != nullptr;
    }));
    EXPECT_EQ(Str(id), e2e::MessageBoxText(box));
    if (row.during) row.during(*this, box);
    e2e::Click(box, IDOK);
  } else if (key == "opened") {  // web pages opened so far
    ASSERT_TRUE(e2e::WaitFor([&] { return CountOf(Record("RECORDER_FILE"), "\r\n") == id; }));
  } else if (a == "fw") {
    e2e::SetFrameworkInstalled(true);
  } else if (a == "abort") {  // a worker's "cancelled" message, whatever the step
    PostMessageA(wizard_, WM_USER + 103, 0, 0);
  } else if (a == "x") {
    row.during(*this, nullptr);
  } else {
    FAIL() << "unknown action";
  }
}

void Scenario::Run(const Row& row) {
  exe_ = e2e::VariantExe(row.variant);
  std::istringstream walk(row.walk);
  for (std::string action; !HasFatalFailure() && walk >> action;) Do(row, action);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(bootstrapper_.Wait(120000) ||
              WaitForSingleObject(user_.hProcess, 120000) == WAIT_OBJECT_0) << "still running";

  log_ = e2e::ReadLog();
  EXPECT_TRUE(InOrder(log_, row.log)) << log_;
  for (const std::string& never : row.absent) EXPECT_EQ(0, CountOf(log_, never)) << never;
  EXPECT_TRUE((row.outcome & kErrors) || log_.find("<error ") == std::string::npos) << log_;
  EXPECT_TRUE(!(row.outcome & (kAsked | kUnasked)) ||
              server_.RequestLog() == (row.outcome & kAsked ? kRequest : ""));
  EXPECT_EQ(row.outcome & kSetupRan ? 1 : 0, CountOf(Record("SETUP_RECORD"), "\n"));
  EXPECT_EQ(!(row.outcome & kRedistRan), Record("REDIST_RECORD").empty());
  EXPECT_EQ(!(row.outcome & kInstalled), IsFrameworkMissing());
  EXPECT_TRUE(Fresh().empty());
  // Nothing lands in the current folder or where an escaping name points.
  EXPECT_EQ(std::vector<std::string>{}, Files(cwd_));
  EXPECT_EQ(std::vector<std::string>{}, Files(TempDir() + "raven-escape-"));
  EXPECT_EQ(!(row.outcome & kNoLog), e2e::PathExists(e2e::LogPath()));
  if (row.after) row.after(*this, nullptr);
}

TEST_P(Scenario, Runs) { Run(GetParam()); }

// Checks that do not fit a row's lists.
void WelcomePage(Scenario& t, HWND) {
  EXPECT_TRUE(t.Enabled(IDOK) && t.Enabled(IDCANCEL));
  for (int id : {IDC_PROGRESS, IDC_ERROR_TEXT, IDC_LICENSE, IDC_LICENSE_PROMPT, IDC_ACCEPT,
                 IDC_DECLINE})
    EXPECT_FALSE(t.Visible(id)) << "control " << id;
}

void LicencePage(Scenario& t, HWND) {
  const std::string licence = e2e::ReadFileText(std::string(RAVEN_SOURCE_DIR) +
                                                "/tests/fixtures/wizard/licence-crlf.txt");
  EXPECT_NE(std::string::npos, licence.find("\r\n"));
  EXPECT_EQ(licence, t.Text(IDC_LICENSE));
  EXPECT_TRUE(e2e::ButtonChecked(t.wizard_, IDC_DECLINE));
  EXPECT_FALSE(t.Enabled(IDOK));
  // The page keeps the title and status line it came with.
  EXPECT_EQ(t.Str(IDS_PREPARING) + "|" + t.Str(IDS_FRAMEWORK_REQUIRED),
            t.Text(IDC_TITLE) + "|" + t.Text(IDC_STATUS_TEXT));
}

// Byte for byte in the new work folder, each file logged once.
void PayloadLanded(Scenario& t, HWND) {
  ASSERT_TRUE(e2e::WaitForLog("Resources extracted"));
  ASSERT_EQ(1u, t.Fresh().size());
  const std::string folder = t.Fresh()[0] + "\\", log = e2e::ReadLog();
  const std::string source = e2e::BuildDir() + "\\win32\\test-payloads\\payload25\\";
  const std::vector<std::string> expected = Files(source), infos = e2e::LogInfoTexts(log);
  ASSERT_EQ(25u, expected.size());
  ASSERT_EQ(expected, Files(folder));
  for (const std::string& name : expected)
    EXPECT_TRUE(e2e::ReadFileText(source + name) == e2e::ReadFileText(folder + name)) << name;
  EXPECT_TRUE(InOrder(log, {"Creating temp folder \"" + t.Fresh()[0] + "\"",
                            "Extracting resources in " + folder, "Resources extracted"}));
  std::vector<std::string> created;  // each with its success, "/" separated
  for (size_t i = 0; i + 1 < infos.size(); ++i) {
    if (infos[i].compare(0, 16, "Creating file : ") || infos[i + 1] != "File created") continue;
    created.push_back(infos[i].substr(16));
    std::replace(created.back().begin(), created.back().end(), '/', '\\');
  }
  std::sort(created.begin(), created.end());
  EXPECT_EQ(expected, created);
}

std::vector<Row> Rows() {
  const std::string frame = "application=\"Ravenstock\" session=\"BootStrap\"/>\r\n";
  const std::string licence = "start next licence accept next ";
  const std::string installed = "Installing .net : Ok", step10 = "Updating controls for step 10";
  std::vector<Row> rows = {
      {"WelcomePageThenCancel", "wizard", "start T:203 S:204 D: x cancel",
       {"<begin ", frame, "Updating controls for step 0", "Controls updated", "<end ", frame},
       {"Seeking next step"}, 0, WelcomePage, nullptr},
      {"CancelWhileFrameworkRequired", "wizard", "start next S:205 disabled cancel", {"<end "},
       {"New step reached : 2"}, 0, nullptr, nullptr},
      {"WorkerCancelledMessageEndsTheDialog", "wizard", "start abort", {"<begin ", "<end "}, {},
       0, nullptr, nullptr},
      {"LicenceAfterOneSecondGatesNext", "wizard",
       "start next licence after:700 x accept enabled decline disabled cancel",
       {"New step reached : 2"}, {}, 0, LicencePage, nullptr},
      {"LicenceEndsAtItsFirstZeroByte", "wizard-zero", "start next licence x cancel", {}, {}, 0,
       [](Scenario& t, HWND) {
         EXPECT_EQ("Shown part of the licence.\r\nSecond line.", t.Text(IDC_LICENSE));
       },
       nullptr},
      {"RefusedDownloadLeadsToTheManualInstallation", "wizard",
       "refused env:RAVEN_SETUP_AUTOCLOSE=1500 opener " + licence + "T:218 E:216 next "
       "T:Continue_Installation E:219 opened:1 x next opened:2 fw next setup disabled",
       {"Seeking next step for step 11", "Starting installation thread", "New step reached : 5"},
       {}, kSetupRan | kInstalled | kErrors,
       [](Scenario& t, HWND) {
         EXPECT_NE(std::string::npos, t.Record("RECORDER_FILE").find(" " + t.Str(304) + "\r\n"));
       },
       [](Scenario& t, HWND) { EXPECT_EQ(1, CountOf(t.log_, "Starting installation thread")); }},
      // The install's end makes no step change of its own: only the layout.
      {"RedistributableThatIsNoProgram", "wizard-install",
       "beside:text " + licence + "T:218 E:220 cancel", {step10}, {"New step reached : 10"},
       kErrors, nullptr, [=](Scenario& t, HWND) { EXPECT_EQ(1, CountOf(t.log_, step10)); }},
      {"DownloadInstallsWithProgress", "download",
       "serve:--mode_slow_--piece_16384_--pause_60 env:RAVEN_REDIST_DELAY_MS=1500 env:RAVEN_"
       "PACKAGE_PAUSE_MS=2500 env:RAVEN_SETUP_AUTOCLOSE=1000 " + licence +
       "D:207 dl S:209 D:210 disabled inst inst:100",
       {"Starting .net installation thread", ".net installation process successfully started",
        "Unpacking .net setup", ".net setup unpacked", ">Installing .net<", installed,
        "Terminating .net installation thread"},
       {}, kAsked | kSetupRan | kRedistRan | kInstalled, nullptr,
       [=](Scenario& t, HWND) {  // the two workers' last records may interleave
         EXPECT_TRUE(InOrder(t.log_, {"Downloading resource", kGot, "New step reached : 4",
                                      "Terminating .net download"}));
         EXPECT_TRUE(InOrder(t.log_, {installed, "New step reached : 6"}));
         EXPECT_EQ(0u, t.Record("REDIST_RECORD").find(" /q:a /c:\"msiexec /q /a netfx.msi "));
       }},
      {"DownloadWithoutLengthShowsZeroPercent", "download",
       "serve:--mode_slow-nolength_--piece_16384_--pause_40 env:RAVEN_REDIST_DELAY_MS=1000 "
       "env:RAVEN_SETUP_AUTOCLOSE=1000 " + licence + "dl-zero",
       {kGot, installed}, {}, kAsked | kSetupRan | kRedistRan | kInstalled, nullptr, nullptr},
      // The wizard ends once the worker has seen the flag and closed its file.
      {"CancelDuringTheDownload", "download",
       "serve:--mode_slow_--piece_4096_--pause_200 " + licence + "dl:any cancel",
       {"Downloading resource", kGot, "Temp folder successfully deleted"},
       {"New step reached : 4", "New step reached : 9"}, kAsked, nullptr, nullptr},
      {"RedistributableBesideFailsToUnpack", "download-beside",
       "serve:--mode_ok env:RAVEN_REDIST_EXIT=1 beside:redist " + licence + "T:218 E:220 enabled "
       "cancel",
       {"New step reached : 2", "New step reached : 4", "Unpacking .net setup",
        ".net setup unpacked", "Terminating .net installation thread"},
       {"New step reached : 3", "download thread", ">Installing .net<"},
       kUnasked | kRedistRan | kErrors, nullptr,
       [](Scenario& t, HWND) {  // its checked copy ran, in the work folder
         const size_t at = t.log_.find("Creating temp folder \"") + 22;
         const std::string folder = t.log_.substr(at, t.log_.find('"', at) - at);
         EXPECT_NE(std::string::npos, t.Record("REDIST_RECORD").find("\n" + folder + "\n"));
       }},
      {"CancelDuringTheInstallation", "install", "env:RAVEN_REDIST_PACKAGE=cancel "
       "env:RAVEN_PACKAGE_PAUSE_MS=3000 beside:redist " + licence + "inst cancel",
       {">Installing .net<", "Error while installing .net", "status=\"1602\"",
        "Terminating .net installation thread"},
       {installed, step10}, kRedistRan | kErrors, nullptr, nullptr},
      {"InstallThatAsksForARestartFails", "install",
       "env:RAVEN_REDIST_PACKAGE=reboot beside:redist " + licence + "T:218 E:220 cancel",
       {">Installing .net<", "Error while installing .net", "status=\"3010\"", step10},
       {installed}, kRedistRan | kErrors, nullptr, nullptr},
      {"HandsOverToTheSetupProgramAndCleansUp", "launch",
       "fw start:alpha_beta S:204 next S:213 T:203 disabled S:214 after:950 started hidden stays "
       "close",
       {"<begin ", "Creating temp folder", "Temp folder successfully created",
        "Extracting resources in ", "Creating file : ", "Resources extracted",
        "New step reached : 5", "Seeking next step for step 5",
        "Starting installation thread for : ", "command line :  alpha beta<", ">Creating process<",
        "<end ", ">Installation process successfully started<", "<begin ",
        ">Installation terminated<", "Seeking next step for step 6", "Deleting temp folder",
        "Temp folder successfully deleted", "<end "},
       {}, kSetupRan | kInstalled, nullptr,
       [](Scenario& t, HWND) {
         EXPECT_EQ(" alpha beta", t.setupCommand_);
         EXPECT_EQ(std::make_pair(2, 2), std::make_pair(CountOf(t.log_, "<begin "),
                                                        CountOf(t.log_, "<end ")));
       }},
      // Next reaches step 5 within its click: the Cancel posted behind it
      // comes before the step's timer, however slow the machine.
      {"CancelWhilePreparingStartsNothing", "launch", "fw start next cancel",
       {"New step reached : 5", "Deleting temp folder", "Temp folder successfully deleted", "<end "},
       {"Seeking next step for step 5", ">Creating process<"}, kInstalled, nullptr, nullptr},
      {"WithoutAPrefixUpdateIsAnArgument", "launch", "fw start:update cancel", {"<end "}, {},
       kInstalled, nullptr, nullptr},
      // An old Windows; a user without administrator rights, whose elevation
      // under Wine yields none. A copy of the exe tells its processes apart.
      {"OldWindowsGetsOnlyTheMessageAndNoLog", "plain", "copy nt40 launch box:200", {}, {},
       kNoLog,
       [](Scenario& t, HWND box) {  // no application name yet: the box has the exe's own
         char caption[64] = {};
         GetWindowTextA(box, caption, sizeof caption);
         EXPECT_EQ(t.copy_.substr(0, t.copy_.size() - 4), caption);
         EXPECT_EQ(nullptr, e2e::FindTopWindow(t.bootstrapper_.Id(), "Ravenstock Setup"));
       },
       nullptr},
      // The relaunched copy knows itself by its arguments' marker; the first waits.
      {"NonAdministratorRelaunchesOnceAndTheUnelevatedCopyStops", "plain", "copy user:a_b box:202",
       {}, {}, kNoLog,
       [](Scenario& t, HWND) {
         const std::map<DWORD, DWORD> copies = t.Copies();
         ASSERT_EQ(2u, copies.size());
         for (const auto& c : copies)
           EXPECT_EQ(c.first == t.user_.dwProcessId ? GetCurrentProcessId() : t.user_.dwProcessId,
                     c.second);
         EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(t.user_.hProcess, 0));
         EXPECT_EQ(nullptr, e2e::FindMessageBox(t.user_.dwProcessId));
       },
       nullptr},
      {"NonAdministratorInUpdateModeIsNotRelaunched", "plain", "copy user:-UPDATE setup x close",
       {"<begin ", "Installation terminated", "<end "}, {}, kSetupRan,
       [](Scenario& t, HWND) { EXPECT_EQ(1u, t.Copies().size()); }, nullptr},
      {"PayloadLandsByteForByteAndCancelRemovesIt", "payload25", "start x cancel",
       {"Temp folder successfully created", "Loading resource : IDR_STORAGE", "Resources extracted",
        "Deleting temp folder", "Temp folder successfully deleted"},
       {}, 0, PayloadLanded, nullptr},
  };
  for (std::string update : {"/UPDATE", "-update"})
    rows.push_back({update[0] == '/' ? "UpdateSwitchSlash" : "UpdateSwitchDash", "launch",
                    "fw launch:" + update + " started nowindow close",
                    {"Resources extracted", ">Creating process<", ">Installation terminated<",
                     "Temp folder successfully deleted", "<end "},
                    {"New step reached"}, kSetupRan | kInstalled, nullptr,
                    [update](Scenario& t, HWND) { EXPECT_EQ(" " + update, t.setupCommand_); }});
  // The web host's verdict is no error of the worker's; a cut body or
  // another file than the pinned one is. Nothing is ever started.
  for (std::string failure : {"404 --status_404", "500 --status_500", "Truncated --mode_truncated",
                              "OtherThanPinned --mode_ok"}) {
    const std::string name = failure.substr(0, failure.find(' '));
    const int status = name == "Truncated" ? ERROR_HANDLE_EOF : name == "OtherThanPinned" ? 13 : 0;
    Row row{"FailedDownloadIsNeverRun" + name, status == 13 ? "download-otherpin" : "download",
            "serve:" + failure.substr(name.size() + 1) + " " + licence +
                "T:218 E:216 enabled gone cancel",
            {"Connected to server", "New step reached : 9", "Terminating .net download thread"},
            {"New step reached : 4", "Downloading resource", "<error "}, kAsked, nullptr, nullptr};
    if (status != 0) {
      row.log = {kGot, "message=\"An error occurred while downloading .net\">",
                 "<exception status=\"" + std::to_string(status) + "\"", "New step reached : 9",
                 "Terminating .net download thread"};
      row.absent = {"New step reached : 4"};
      row.outcome = kAsked | kErrors;
    }
    rows.push_back(row);
  }
  // Every damaged or hostile archive: the "corrupted" box, its work folder already gone.
  std::ifstream variants(std::string(RAVEN_SOURCE_DIR) + "/tests/e2e-variants.txt");
  for (std::string line; std::getline(variants, line);) {
    if (line.compare(0, 7, "broken-") != 0) continue;
    std::string variant = line.substr(0, line.find(' ')), name = "BrokenArchive";
    for (char c : variant.substr(7)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    rows.push_back({name, variant, "launch box:201",
                    {"section=\"ResourceManager\">Resource File Format is invalid<"},
                    {"Creating file : "}, kErrors,
                    [](Scenario& t, HWND) { EXPECT_TRUE(t.Fresh().empty()); },
                    [](Scenario& t, HWND) { EXPECT_EQ(1, CountOf(t.log_, "is invalid<")); }});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(E2e, Scenario, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
