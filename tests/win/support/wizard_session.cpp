#include "support/wizard_session.h"

#include <msi.h>
#include <shellapi.h>

#include <algorithm>

namespace e2e {

namespace {
const char kSetupTitle[] = "Ravenstock Setup Program (demo)";
std::string ServerScratch() { return TempDir() + "loopback-server-scratch\\"; }
}  // namespace

std::string ExeString(const std::string& exe, UINT id) {
  HMODULE m = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  char buf[512] = {};
  if (m != nullptr) LoadStringA(m, id, buf, sizeof buf);
  if (m != nullptr) FreeLibrary(m);
  return buf;
}

void RemoveTree(const std::string& folder) {
  std::string from = folder.substr(0, folder.find_last_not_of('\\') + 1);
  from.push_back('\0');  // the list ends with two zeros
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = from.c_str();
  op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  SHFileOperationA(&op);
}

std::vector<std::string> NewWorkFolders(const std::vector<std::string>& before) {
  std::vector<std::string> fresh;
  for (const std::string& f : WorkFolders())
    if (std::find(before.begin(), before.end(), f) == before.end()) fresh.push_back(f);
  return fresh;
}

std::string DemoRedistributable() { return BuildDir() + "\\win32\\demo\\dotnetfx.exe"; }

std::vector<HWND> SetupProgramWindows() {
  std::vector<HWND> found;
  for (HWND h = nullptr; (h = FindWindowExA(nullptr, h, nullptr, kSetupTitle)) != nullptr;)
    found.push_back(h);
  return found;
}

void CloseSetupPrograms() {
  for (HWND h : SetupProgramWindows()) PostMessageA(h, WM_CLOSE, 0, 0);
  WaitFor([] { return SetupProgramWindows().empty(); }, 10000);
}

bool ReadSetupRecord(const std::string& file, std::string* commandLine, std::string* folder,
                     DWORD timeoutMs) {
  // Whole once its first line has ended.
  std::string text;
  if (!WaitFor([&] { return (text = ReadFileText(file)).find('\n') != std::string::npos; },
               timeoutMs))
    return false;
  text = text.substr(0, text.find_first_of("\r\n"));
  const size_t tab = text.find('\t');
  if (tab == std::string::npos) return false;
  *commandLine = text.substr(0, tab);
  *folder = text.substr(tab + 1);
  return true;
}

void RemoveFrameworkPackage() {
  MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
  for (const char* product : {"{0F482E6F-842E-40EF-8E3F-C770D0AFF0EB}",
                              "{CE999845-B5D4-4DC0-AD94-77D6E05E1023}"})  // framework, restart
    MsiConfigureProductA(product, INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
  SetFrameworkInstalled(false);
}

void WizardSession::SetUp() {
  SetFrameworkInstalled(false);
  DeleteLog();
}

void WizardSession::TearDown() {
  bootstrapper_.Kill();
  CloseSetupPrograms();
  proxy_.reset();
  server_.Stop();
  for (const std::string& name : env_) SetEnvironmentVariableA(name.c_str(), nullptr);
  for (const std::string& file : files_) DeleteFileA(file.c_str());
  RemoveTree(ServerScratch());
  SetFrameworkInstalled(false);
}

void WizardSession::SetEnv(const char* name, const std::string& value) {
  SetEnvironmentVariableA(name, value.c_str());
  env_.push_back(name);
}

std::string WizardSession::ScratchFile(const std::string& name) {
  const std::string path = TempDir() + name;
  DeleteFileA(path.c_str());
  files_.push_back(path);
  return path;
}

void WizardSession::Serve(const std::string& options, const std::string& body) {
  CreateDirectoryA(ServerScratch().c_str(), nullptr);
  ASSERT_TRUE(server_.Start(FixtureExe("http_server.exe"), body, options, ServerScratch()));
  PointProxyAt(server_.Port());
}

void WizardSession::PointProxyAt(unsigned short port) {
  proxy_.reset();  // first: it puts back what it found
  proxy_.reset(new loopback::ProxySetting(port));
}

void WizardSession::PutBesideExe(const std::string& variant, const std::string& source) {
  const std::string exe = VariantExe(variant);
  const std::string beside = exe.substr(0, exe.rfind('\\') + 1) + "dotnetfx.exe";
  files_.push_back(beside);
  ASSERT_TRUE(CopyFileA(source.c_str(), beside.c_str(), FALSE)) << source;
}

void WizardSession::Launch(const std::string& variant, const std::string& arguments,
                           const std::string& currentDir) {
  exe_ = VariantExe(variant);
  ASSERT_TRUE(PathExists(exe_)) << exe_;
  bootstrapper_ = Process(exe_, arguments, currentDir);
  ASSERT_TRUE(bootstrapper_.Started());
}

void WizardSession::Start(const std::string& variant, const std::string& arguments) {
  Launch(variant, arguments);
  if (HasFatalFailure()) return;
  wizard_ = WaitForWizard(bootstrapper_.Id());
  ASSERT_NE(nullptr, wizard_);
}

bool WizardSession::WaitText(int id, const std::string& text, DWORD ms) const {
  return WaitFor([&] { return Text(id) == text; }, ms);
}

void WizardSession::Press(int id) {
  ASSERT_TRUE(WaitFor([&] { return Enabled(id); })) << "button " << id;
  Click(wizard_, id);
}

void WizardSession::Shot(const std::string& name) {
  const std::string dir = BuildDir() + "\\screenshots";
  CreateDirectoryA(dir.c_str(), nullptr);
  // A cross-thread update waits for the paint.
  RedrawWindow(wizard_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  EXPECT_TRUE(Screenshot(dir + "\\" + name + ".bmp", wizard_));
}

}  // namespace e2e
