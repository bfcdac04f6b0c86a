// The real bootstrapper driven from outside as its user would drive it. A
// row names the variant, what the web host answers, what the user does and
// waits for, and what the log, the stand-ins and the work folders show
// once the program has ended: log records are read after the program's end
// or after waiting for the record itself, never on a window text's word.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <tuple>

#include "framework/detection.h"
#include "support/wizard_session.h"

namespace {

const char kRequest[] =
    "GET http://downloads.ravenstock.invalid:80/downloads/framework.net.1.1.exe HTTP/1.0\r\n";
const char kFrame[] = "application=\"Ravenstock\" session=\"BootStrap\"/>\r\n";
const char kGot[] = "Downloading .net : Resource downloaded";
const char kFailed[] = "message=\"An error occurred while downloading .net\">";

// What happened; anything not named must not have.
enum Outcome { kSetupRan = 1, kRedistRan = 2, kInstalled = 4, kErrors = 8, kKeepsFolder = 16 };
enum Beside { kNothing, kRedist, kText };

class Scenario;
using Check = std::function<void(Scenario&)>;

struct Row {
  std::string name, variant, args;
  bool framework;      // installed before the start
  const char* server;  // loopback server options; "" refuses every connection
  const char* env;     // NAME=value ... for the stand-ins
  Beside beside;       // a file beside the exe as its redistributable
  std::string walk;    // actions and waits, in order (Scenario::Do)
  std::vector<std::string> log, absent;  // records in this order; never
  const char* request;                   // the server's request log
  int outcome;
  Check during, after;  // at "x" in the walk; after the checks
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// The number before "%" in a status line made from format ("...%s - %d%%).",
// "...(%d%%)."), or -1 when the line is not of that form.
int Percent(const std::string& line, const std::string& format) {
  const std::string head = format.substr(0, format.find('%'));
  const size_t end = line.rfind("%)."), start = line.find_last_not_of("0123456789", end - 1);
  if (line.compare(0, head.size(), head) != 0 || end == std::string::npos ||
      end != line.size() - 3 || start + 1 >= end || start + 1 < head.size())
    return -1;
  return std::atoi(line.c_str() + start + 1);
}

// Files below folder (ending in "\"), by relative name, sorted.
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

class Scenario : public e2e::WizardSession, public ::testing::WithParamInterface<Row> {
 public:
  void SetUp() override {
    WizardSession::SetUp();
    e2e::RemoveFrameworkPackage();
    before_ = e2e::WorkFolders();
    CreateDirectoryA(cwd_.c_str(), nullptr);
    for (const char* name : {"SETUP_RECORD", "REDIST_RECORD", "RECORDER_FILE"})
      SetEnv((std::string("RAVEN_") + name).c_str(), ScratchFile(name));
  }
  void TearDown() override {
    WizardSession::TearDown();
    e2e::RemoveFrameworkPackage();
    for (const std::string& folder : Fresh()) e2e::RemoveTree(folder);
    e2e::RemoveTree(cwd_);
    if (!opener_.empty()) SetOpener(opener_);
  }
  std::vector<std::string> Fresh() const { return e2e::NewWorkFolders(before_); }
  std::string Record(const char* name) const { return e2e::ReadFileText(e2e::TempDir() + name); }
  void Run(const Row& row);

  std::string setupCommand_, setupFolder_, log_;

 private:
  void Do(const Row& row, const std::string& action);
  void SetOpener(const std::string& command) {
    RegSetValueA(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", REG_SZ, command.c_str(),
                 static_cast<DWORD>(command.size()));
  }
  std::vector<std::string> before_;
  std::string cwd_ = e2e::TempDir() + "scenario-cwd\\", opener_;
  DWORD pressedAt_ = 0;
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
  if (a == "next" || a == "cancel") {
    Press(a == "next" ? IDOK : IDCANCEL);
    pressedAt_ = GetTickCount();
  } else if (a == "licence") {
    ASSERT_TRUE(e2e::WaitFor([&] { return Visible(IDC_LICENSE); }));
  } else if (a == "accept" || a == "decline") {
    e2e::Click(wizard_, a == "accept" ? IDC_ACCEPT : IDC_DECLINE);
  } else if (a == "enabled" || a == "disabled") {
    EXPECT_TRUE(e2e::WaitFor([&] { return Enabled(IDOK) == (a == "enabled"); }));
  } else if (key == "T" || key == "S" || key == "D" || key == "E") {
    ASSERT_TRUE(WaitText(control, text, 60000)) << Text(control);
    EXPECT_TRUE(key != "E" || Visible(IDC_ERROR_TEXT));
  } else if (key == "after") {  // at least this long since the last press
    EXPECT_GE(GetTickCount() - pressedAt_, static_cast<DWORD>(id));
  } else if (a == "dl") {  // the download line and the bar, between 0 and 100
    ASSERT_TRUE(e2e::WaitFor([&] { return percent(208) > 0 && percent(208) < 100; }));
    const LRESULT pos = SendMessageA(GetDlgItem(wizard_, IDC_PROGRESS), PBM_GETPOS, 0, 0);
    EXPECT_TRUE(Visible(IDC_PROGRESS) && pos > 0 && pos <= 100) << pos;
  } else if (a == "dl-any") {
    ASSERT_TRUE(e2e::WaitFor([&] { return percent(208) >= 0; }));
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
  } else if (key == "shot") {
    Shot(value);
  } else if (a == "hidden") {
    EXPECT_TRUE(e2e::WaitFor([&] { return !IsWindowVisible(wizard_); }));
  } else if (a == "stays") {
    EXPECT_FALSE(EndsSoon(1000)) << "ended before the setup program";
  } else if (a == "started") {  // the setup program, in the one new work folder
    ASSERT_TRUE(e2e::ReadSetupRecord(e2e::TempDir() + "SETUP_RECORD", &setupCommand_, &setupFolder_));
    ASSERT_EQ(1u, Fresh().size());
    EXPECT_EQ(0, lstrcmpiA(Fresh()[0].c_str(), setupFolder_.c_str())) << setupFolder_;
    EXPECT_TRUE(e2e::PathExists(setupFolder_ + "\\setup.exe"));
  } else if (a == "setup" || a == "close") {  // it shows up; its user closes it
    ASSERT_TRUE(e2e::WaitFor([] { return !e2e::SetupProgramWindows().empty(); }));
    if (a == "close") PostMessageA(e2e::SetupProgramWindows()[0], WM_CLOSE, 0, 0);
  } else if (a == "nowindow") {
    EXPECT_EQ(nullptr, e2e::FindTopWindow(bootstrapper_.Id(), "Ravenstock Setup", false));
  } else if (key == "box") {
    HWND box = nullptr;
    ASSERT_TRUE(e2e::WaitFor([&] { return (box = e2e::FindMessageBox(bootstrapper_.Id())); }));
    EXPECT_EQ(Str(id), e2e::MessageBoxText(box));
    if (row.during) row.during(*this);
    PostMessageA(box, WM_CLOSE, 0, 0);
  } else if (key == "opened") {  // web pages opened so far
    ASSERT_TRUE(e2e::WaitFor([&] { return e2e::CountOf(Record("RECORDER_FILE"), "\r\n") == id; }));
  } else if (a == "fw") {
    e2e::SetFrameworkInstalled(true);
  } else if (a == "abort") {  // a worker's "cancelled" message, whatever the step
    PostMessageA(wizard_, WM_USER + 103, 0, 0);
  } else if (a == "x") {
    row.during(*this);
  } else {
    FAIL() << "unknown action";
  }
}

void Scenario::Run(const Row& row) {
  e2e::SetFrameworkInstalled(row.framework);
  if (row.server != nullptr && *row.server != '\0') Serve(row.server);
  if (row.server != nullptr && *row.server == '\0') PointProxyAt(1);  // nothing listens there
  std::istringstream env(row.env);
  for (std::string pair; env >> pair;)
    SetEnv(pair.substr(0, pair.find('=')).c_str(), pair.substr(pair.find('=') + 1));
  if (row.beside == kRedist) PutBesideExe(row.variant, e2e::DemoRedistributable());
  if (row.beside == kText) {
    ASSERT_TRUE(e2e::WriteFileText(ScratchFile("not-a-program.txt"), "plain text\r\n"));
    PutBesideExe(row.variant, e2e::TempDir() + "not-a-program.txt");
  }
  if (row.walk.find("opened:") != std::string::npos) {  // the recorder opens web pages
    char old[MAX_PATH * 2] = {};
    LONG size = sizeof old;
    RegQueryValueA(HKEY_CLASSES_ROOT, "htmlfile\\shell\\open\\command", old, &size);
    opener_ = old;
    SetOpener("\"" + e2e::FixtureExe("recorder.exe") + "\" \"%1\"");
  }
  std::istringstream walk(row.walk);
  std::string action;
  if (row.walk.compare(0, 8, "nowizard") == 0) {
    walk >> action;
    Launch(row.variant, row.args, cwd_);
  } else {
    Start(row.variant, row.args);
  }
  while (!HasFatalFailure() && walk >> action) Do(row, action);
  if (HasFatalFailure()) return;
  ASSERT_TRUE(EndsSoon(120000)) << "still running";

  log_ = e2e::ReadLog();
  EXPECT_TRUE(e2e::InOrder(log_, row.log)) << log_;
  for (const std::string& never : row.absent) EXPECT_EQ(0, e2e::CountOf(log_, never)) << never;
  EXPECT_TRUE((row.outcome & kErrors) || log_.find("<error ") == std::string::npos) << log_;
  if (row.request != nullptr) {
    EXPECT_EQ(row.request, server_.RequestLog());
  }
  EXPECT_EQ(!(row.outcome & kSetupRan), Record("SETUP_RECORD").empty());
  EXPECT_EQ(!(row.outcome & kRedistRan), Record("REDIST_RECORD").empty());
  EXPECT_EQ(!(row.outcome & kInstalled), IsFrameworkMissing());
  EXPECT_TRUE((row.outcome & kKeepsFolder) || Fresh().empty());
  // Nothing lands in the current folder or where an escaping name points.
  EXPECT_TRUE(Files(cwd_).empty());
  const std::string temp = e2e::TempDir();
  for (const std::string& dir : {temp, temp.substr(0, temp.rfind('\\', temp.size() - 2) + 1),
                                 std::string("C:\\")})
    EXPECT_TRUE(Files(dir + "raven-escape-").empty()) << dir;  // no such folder: no files
  if (row.after) row.after(*this);
}

TEST_P(Scenario, Runs) { Run(GetParam()); }

// Checks that do not fit a row's lists.
void WelcomePage(Scenario& t) {
  EXPECT_NE(nullptr, e2e::FindTopWindow(t.bootstrapper_.Id(), "Ravenstock Setup"));
  EXPECT_EQ(t.Str(IDS_PREPARING), t.Text(IDC_TITLE));
  EXPECT_EQ(t.Str(IDS_WELCOME), t.Text(IDC_STATUS_TEXT));
  EXPECT_EQ("", t.Text(IDC_DETAIL_TEXT));
  EXPECT_TRUE(t.Enabled(IDOK) && t.Enabled(IDCANCEL));
  for (int hidden : {IDC_PROGRESS, IDC_ERROR_TEXT, IDC_LICENSE, IDC_LICENSE_PROMPT, IDC_ACCEPT,
                     IDC_DECLINE})
    EXPECT_FALSE(t.Visible(hidden)) << "control " << hidden;
}

void LicencePage(Scenario& t) {
  const std::string licence = e2e::ReadFileText(std::string(RAVEN_SOURCE_DIR) +
                                                "/tests/fixtures/wizard/licence-crlf.txt");
  EXPECT_NE(std::string::npos, licence.find("\r\n"));
  EXPECT_EQ(licence, t.Text(IDC_LICENSE));
  EXPECT_TRUE(e2e::ButtonChecked(t.wizard_, IDC_DECLINE));
  EXPECT_FALSE(t.Enabled(IDOK));
  // The page keeps the title and status line it came with.
  EXPECT_EQ(t.Str(IDS_PREPARING), t.Text(IDC_TITLE));
  EXPECT_EQ(t.Str(IDS_FRAMEWORK_REQUIRED), t.Text(IDC_STATUS_TEXT));
}

// Byte for byte in the new work folder, each file logged once with its
// success, the folder's own files before those of its sub-folder.
void PayloadLanded(Scenario& t) {
  ASSERT_TRUE(e2e::WaitForLog("Resources extracted"));
  ASSERT_EQ(1u, t.Fresh().size());
  const std::string folder = t.Fresh()[0] + "\\", log = e2e::ReadLog();
  const std::string source = e2e::BuildDir() + "\\win32\\test-payloads\\payload25\\";
  const std::vector<std::string> expected = Files(source), infos = e2e::LogInfoTexts(log);
  ASSERT_EQ(25u, expected.size());
  ASSERT_EQ(expected, Files(folder));
  for (const std::string& name : expected)
    EXPECT_TRUE(e2e::ReadFileText(source + name) == e2e::ReadFileText(folder + name)) << name;
  EXPECT_TRUE(e2e::InOrder(log, {"Creating temp folder \"" + t.Fresh()[0] + "\"",
                                 "Extracting resources in " + folder, "Resources extracted"}));
  std::vector<std::string> created;
  for (size_t i = 0; i < infos.size(); ++i) {
    if (infos[i].compare(0, 16, "Creating file : ") != 0) continue;
    created.push_back(infos[i].substr(16));
    EXPECT_TRUE(i + 1 < infos.size() && infos[i + 1] == "File created") << infos[i];
    EXPECT_TRUE(created.size() < 2 || created.back().find('/') != std::string::npos ||
                created[created.size() - 2].find('/') == std::string::npos) << created.back();
    std::replace(created.back().begin(), created.back().end(), '/', '\\');
  }
  std::sort(created.begin(), created.end());
  EXPECT_EQ(expected, created);
}

std::vector<Row> Rows() {
  std::vector<Row> rows = {
      {"WelcomePageThenCancel", "wizard", "", false, nullptr, "", kNothing,
       "x shot:wizard-0-welcome cancel",
       {"<begin ", kFrame, "Updating controls for step 0", "Controls updated", "<end ", kFrame},
       {"Seeking next step"}, nullptr, 0, WelcomePage, nullptr},
      {"CancelWhileFrameworkRequired", "wizard", "", false, nullptr, "", kNothing,
       "next S:205 disabled shot:wizard-1-framework-required cancel", {"<end "},
       {"New step reached : 2"}, nullptr, 0, nullptr, nullptr},
      {"WorkerCancelledMessageEndsTheDialog", "wizard", "", false, nullptr, "", kNothing, "abort",
       {"<begin ", "<end "}, {}, nullptr, 0, nullptr, nullptr},
      {"LicenceAfterOneSecondGatesNext", "wizard", "", false, nullptr, "", kNothing,
       "next licence after:700 x shot:wizard-2-licence accept enabled decline disabled cancel",
       {"New step reached : 2"}, {}, nullptr, 0, LicencePage, nullptr},
      {"LicenceEndsAtItsFirstZeroByte", "wizard-zero", "", false, nullptr, "", kNothing,
       "next licence x cancel", {}, {}, nullptr, 0,
       [](Scenario& t) { EXPECT_EQ("Shown part of the licence.\r\nSecond line.", t.Text(IDC_LICENSE)); },
       nullptr},
      {"RefusedDownloadLeadsToTheManualInstallation", "wizard", "", false, "",
       "RAVEN_SETUP_AUTOCLOSE=1500", kNothing,
       "next licence accept next T:218 E:216 shot:wizard-9-download-failed next "
       "T:Continue_Installation E:219 opened:1 x shot:wizard-11-manual-install next opened:2 "
       "fw next setup disabled",
       {"Seeking next step for step 11", "Starting installation thread", "New step reached : 5"},
       {}, nullptr, kSetupRan | kInstalled | kErrors,
       [](Scenario& t) {
         EXPECT_NE(std::string::npos, t.Record("RECORDER_FILE").find(" " + t.Str(304) + "\r\n"));
       },
       [](Scenario& t) {  // Next could not start a second run
         EXPECT_EQ(1, e2e::CountOf(t.Record("SETUP_RECORD"), "\n"));
         EXPECT_EQ(1, e2e::CountOf(t.log_, "Starting installation thread"));
       }},
      // The install's end makes no step change of its own: only the layout.
      {"RedistributableThatIsNoProgram", "wizard-install", "", false, nullptr, "", kText,
       "next licence accept next T:218 E:220 shot:wizard-10-install-failed cancel",
       {"Updating controls for step 10"}, {"New step reached : 10"}, nullptr, kErrors, nullptr,
       [](Scenario& t) { EXPECT_EQ(1, e2e::CountOf(t.log_, "Updating controls for step 10")); }},
      {"DownloadInstallsWithProgress", "download", "", false, "--mode slow --piece 16384 --pause 60",
       "RAVEN_REDIST_DELAY_MS=1500 RAVEN_PACKAGE_PAUSE_MS=2500 RAVEN_SETUP_AUTOCLOSE=1000",
       kNothing,
       "next licence accept next D:207 dl shot:wizard-3-downloading S:209 D:210 disabled "
       "shot:wizard-4-unpacking inst inst:100 shot:wizard-4-installing",
       {"Starting .net installation thread", ".net installation process successfully started",
        "Unpacking .net setup", ".net setup unpacked", ">Installing .net<",
        "Installing .net : Ok", "Terminating .net installation thread"},
       {}, kRequest, kSetupRan | kRedistRan | kInstalled, nullptr,
       [](Scenario& t) {  // the two workers' last records may interleave
         EXPECT_TRUE(e2e::InOrder(t.log_, {"Downloading resource", kGot, "New step reached : 4",
                                           "Terminating .net download"}));
         EXPECT_TRUE(e2e::InOrder(t.log_, {"Installing .net : Ok", "New step reached : 6"}));
         EXPECT_TRUE(e2e::InOrder(t.log_, {"local file : \"", "\\dotnetfx.exe\"",
                                           "installation thread for : ", "\\dotnetfx.exe, "}));
         EXPECT_EQ(0u, t.Record("REDIST_RECORD").find(" /q:a /c:\"msiexec /q /a netfx.msi TARGETDIR=\"\""));
       }},
      {"DownloadWithoutLengthShowsZeroPercent", "download", "", false,
       "--mode slow-nolength --piece 16384 --pause 40",
       "RAVEN_REDIST_DELAY_MS=1000 RAVEN_SETUP_AUTOCLOSE=1000", kNothing,
       "next licence accept next dl-zero", {kGot, "Installing .net : Ok"}, {}, kRequest,
       kSetupRan | kRedistRan | kInstalled, nullptr, nullptr},
      // Cancel raises the worker's flag; the wizard ends once the worker has
      // seen it, its partial file closed so that the folder can go.
      {"CancelDuringTheDownload", "download", "", false, "--mode slow --piece 4096 --pause 200",
       "", kNothing, "next licence accept next dl-any cancel",
       {"Downloading resource", kGot, "Temp folder successfully deleted"},
       {"New step reached : 4", "New step reached : 9"}, kRequest, 0, nullptr, nullptr},
      {"RedistributableBesideFailsToUnpack", "download-beside", "", false, "--mode ok",
       "RAVEN_REDIST_EXIT=1", kRedist,
       "next licence accept next T:218 E:220 enabled shot:wizard-10-unpack-failed cancel",
       {"New step reached : 2", "New step reached : 4", "Unpacking .net setup",
        ".net setup unpacked", "Terminating .net installation thread"},
       {"New step reached : 3", "download thread", ">Installing .net<"}, "", kRedistRan | kErrors,
       nullptr,
       [](Scenario& t) {  // started in the exe's own folder
         const std::string exe = e2e::VariantExe("download-beside");
         EXPECT_NE(std::string::npos,
                   t.Record("REDIST_RECORD").find("\n" + exe.substr(0, exe.rfind('\\')) + "\n"));
       }},
      {"CancelDuringTheInstallation", "install", "", false, nullptr,
       "RAVEN_REDIST_PACKAGE=cancel RAVEN_PACKAGE_PAUSE_MS=3000", kRedist,
       "next licence accept next inst cancel",
       {">Installing .net<", "Error while installing .net", "status=\"1602\"",
        "Terminating .net installation thread"},
       {"Installing .net : Ok", "Updating controls for step 10"}, nullptr, kRedistRan | kErrors,
       nullptr, nullptr},
      {"InstallThatAsksForARestartFails", "install", "", false, nullptr,
       "RAVEN_REDIST_PACKAGE=reboot", kRedist, "next licence accept next T:218 E:220 cancel",
       {">Installing .net<", "Error while installing .net", "status=\"3010\"",
        "Updating controls for step 10"},
       {"Installing .net : Ok"}, nullptr, kRedistRan | kErrors, nullptr, nullptr},
      {"HandsOverToTheSetupProgramAndCleansUp", "launch", "alpha beta", true, nullptr, "",
       kNothing,
       "S:204 next S:213 T:203 disabled shot:wizard-5-preparing S:214 after:950 "
       "shot:wizard-6-running-setup started hidden stays close",
       {"<begin ", "Creating temp folder", "Temp folder successfully created",
        "Extracting resources in ", "Creating file : ", "Resources extracted",
        "New step reached : 5", "Seeking next step for step 5",
        "Starting installation thread for : ", "command line :  alpha beta<", ">Creating process<",
        "<end ", ">Installation process successfully started<", "<begin ",
        ">Installation terminated<", "Seeking next step for step 6", "Deleting temp folder",
        "Temp folder successfully deleted", "<end "},
       {}, nullptr, kSetupRan | kInstalled, nullptr,
       [](Scenario& t) {
         EXPECT_EQ(" alpha beta", t.setupCommand_);
         EXPECT_EQ(2, e2e::CountOf(t.log_, "<begin "));
         EXPECT_EQ(2, e2e::CountOf(t.log_, "<end "));
       }},
      // Too late to stop the start: the program runs on, and its folder,
      // which cannot go, stays with the failure recorded.
      {"CancelWhilePreparingStillStartsTheProgram", "launch", "", true, nullptr, "", kNothing,
       "next S:213 cancel started",
       {"Installation process successfully started", "Deleting temp folder",
        "message=\"An error occured while deleting temp folder\"", "<end "},
       {"Installation terminated"}, nullptr, kSetupRan | kInstalled | kErrors | kKeepsFolder,
       nullptr,
       [](Scenario& t) {
         EXPECT_EQ(" ", t.setupCommand_);
         EXPECT_TRUE(e2e::PathExists(t.setupFolder_));
         EXPECT_TRUE(e2e::WaitFor([] { return !e2e::SetupProgramWindows().empty(); }));
       }},
      {"WithoutAPrefixUpdateIsAnArgument", "launch", "update", true, nullptr, "", kNothing,
       "cancel", {"<end "}, {}, nullptr, kInstalled, nullptr, nullptr},
      {"PayloadLandsByteForByteAndCancelRemovesIt", "payload25", "", false, nullptr, "",
       kNothing, "x cancel",
       {"Temp folder successfully created", "Loading resource : IDR_STORAGE", "Resources extracted",
        "Deleting temp folder", "Temp folder successfully deleted"},
       {}, nullptr, 0, PayloadLanded, nullptr},
  };
  for (std::string update : {"/UPDATE", "-update"})
    rows.push_back({update[0] == '/' ? "UpdateSwitchSlash" : "UpdateSwitchDash", "launch",
                    update, true, nullptr, "", kNothing, "nowizard started nowindow close",
                    {"Resources extracted", ">Creating process<", ">Installation terminated<",
                     "Temp folder successfully deleted", "<end "},
                    {"New step reached"}, nullptr, kSetupRan | kInstalled, nullptr,
                    [update](Scenario& t) { EXPECT_EQ(" " + update, t.setupCommand_); }});
  // The web host's verdict is no error of the worker's; a cut body or
  // another file than the pinned one is. Nothing is ever started.
  const std::tuple<const char*, const char*, int> failures[] = {
      {"404", "--status 404", 0}, {"500", "--status 500", 0},
      {"Truncated", "--mode truncated", ERROR_HANDLE_EOF},
      {"OtherThanPinned", "--mode ok", ERROR_INVALID_DATA}};
  for (const auto& f : failures) {
    const int status = std::get<2>(f);
    Row row{std::string("FailedDownloadIsNeverRun") + std::get<0>(f),
            status == ERROR_INVALID_DATA ? "download-otherpin" : "download", "", false,
            std::get<1>(f), "", kNothing,
            "next licence accept next T:218 E:216 enabled gone cancel",
            {"Connected to server", "New step reached : 9", "Terminating .net download thread"},
            {"New step reached : 4", "Downloading resource", "<error "}, kRequest, 0, nullptr,
            nullptr};
    if (status != 0) {
      row.log = {kGot, kFailed, "<exception status=\"" + std::to_string(status) + "\"",
                 "New step reached : 9", "Terminating .net download thread"};
      row.absent = {"New step reached : 4"};
      row.outcome = kErrors;
    }
    rows.push_back(row);
  }
  // Every damaged or hostile archive the variants list embeds: the
  // "corrupted" box, an empty work folder left behind, nothing elsewhere.
  std::ifstream variants(std::string(RAVEN_SOURCE_DIR) + "/tests/e2e-variants.txt");
  for (std::string line; std::getline(variants, line);) {
    if (line.compare(0, 7, "broken-") != 0) continue;
    std::string variant = line.substr(0, line.find(' ')), name = "BrokenArchive";
    for (char c : variant.substr(7)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    rows.push_back({name, variant, "", false, nullptr, "", kNothing, "nowizard box:201",
                    {"section=\"ResourceManager\">Resource File Format is invalid<"},
                    {"Creating file : "}, nullptr, kErrors | kKeepsFolder,
                    [](Scenario& t) {
                      ASSERT_EQ(1u, t.Fresh().size());
                      EXPECT_TRUE(Files(t.Fresh()[0] + "\\").empty());
                    },
                    [](Scenario& t) { EXPECT_EQ(1, e2e::CountOf(t.log_, "Format is invalid<")); }});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(E2e, Scenario, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
