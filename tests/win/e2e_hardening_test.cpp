// The bootstrapper runs elevated from a folder full of other people's files:
// nothing it loads, unpacks into, runs or appends to may be someone else's.
#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

#include "../fixtures/http_server/loopback_server.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "resource_ids.h"
#include "support/e2e.h"
#include "wizard/params.h"
#include "wizard/wizard_owner.h"

namespace {

using namespace e2e;

const std::string kNine = "controls for step 9<", kTen = "controls for step 10<";
std::string Redist() { return BuildDir() + "\\win32\\demo\\dotnetfx.exe"; }
std::string Beside(const std::string& variant, const std::string& name) {
  return VariantExe(variant).substr(0, VariantExe(variant).rfind('\\') + 1) + name;
}
bool OnWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

class HardeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteLog();
    Env("RAVEN_SETUP_RECORD", setup_);
    Env("RAVEN_REDIST_RECORD", redist_);
    Env("RAVEN_SETUP_AUTOCLOSE", "300");
  }
  void TearDown() override {
    exe_.Kill();
    proxy_.reset();
    server_.Stop();
    for (auto& e : env_) SetEnvironmentVariableA(e.first.c_str(), e.second.empty() ? nullptr : e.second.c_str());
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);  // what a whole run installed
    MsiConfigureProductA("{0F482E6F-842E-40EF-8E3F-C770D0AFF0EB}", 0, INSTALLSTATE_ABSENT);
    SetFrameworkInstalled(false);
    for (const std::string* f : {&setup_, &redist_}) DeleteFileA(f->c_str());
  }
  void Env(const char* name, const std::string& value) {  // put back in TearDown
    char old[MAX_PATH] = {};
    GetEnvironmentVariableA(name, old, MAX_PATH);
    env_.insert(env_.begin(), {name, old});
    SetEnvironmentVariableA(name, value.c_str());
  }
  void Serve(const std::string& options) {
    proxy_.reset();
    ASSERT_TRUE(server_.Start(FixtureExe("http_server.exe"), Redist(), options, TempDir()));
    proxy_.reset(new loopback::ProxySetting(server_.Port()));
  }
  // A user who accepts the licence and presses Next, once per step, until
  // the exe ends or the log shows a stop; then Cancel. Returns the log.
  std::string Drive(const std::string& variant, const std::vector<std::string>& stops = {}) {
    exe_ = Process(VariantExe(variant), "");
    HWND w = WaitForWizard(exe_.Id());
    int clickedAt = -1;
    EXPECT_TRUE(WaitFor([&] {
      if (exe_.Wait(0)) return true;
      const std::string log = ReadLog();
      if (log.empty()) return false;  // held by the exe for a record
      for (auto& stop : stops) if (log.find(stop) != std::string::npos) return true;
      if (ControlVisible(w, IDC_LICENSE) && !ButtonChecked(w, IDC_ACCEPT)) Click(w, IDC_ACCEPT);
      else if (CountOf(log, "New step") != clickedAt && ControlEnabled(w, IDOK))
        clickedAt = CountOf(log, "New step"), Click(w, IDOK);
      return false;
    }, 120000));
    if (!exe_.Wait(0)) Click(w, IDCANCEL);
    EXPECT_TRUE(exe_.Wait());
    return ReadLog();
  }

  std::string setup_ = TempDir() + "harden-setup.txt", redist_ = TempDir() + "harden-redist.txt";
  Process exe_;
  loopback::Server server_;
  std::unique_ptr<loopback::ProxySetting> proxy_;
  std::vector<std::pair<std::string, std::string>> env_;
};

// Look-alikes of the DLLs loaded after start-up, planted beside the exe,
// stay unloaded through a download and an installation. Wine takes its
// overrides from the host environment only: ctest makes them native-first.
TEST_F(HardeningTest, DllsBesideTheExeAreNeverLoaded) {
  char overrides[512] = "msi,wininet=";
  ASSERT_TRUE(GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides) || !OnWine());
  std::vector<std::string> dlls;
  for (char* p = std::strtok(overrides, ",="); p != nullptr && *p != 'n'; p = std::strtok(nullptr, ",="))
    dlls.push_back(p);
  const std::string markers = TempDir() + "harden-markers\\";
  CreateDirectoryA(markers.c_str(), nullptr);
  Env("RAVEN_MARKER_DIR", markers);
  for (const std::string& dll : dlls)
    ASSERT_TRUE(CopyFileA(FixtureExe("marker.dll").c_str(), Beside("harden-dlls", dll + ".dll").c_str(), FALSE));
  Serve("--mode ok");
  Drive("harden-dlls", {kNine, kTen});
  for (const std::string& dll : dlls) {
    DeleteFileA(Beside("harden-dlls", dll + ".dll").c_str());
    EXPECT_FALSE(DeleteFileA((markers + dll + ".dll.loaded").c_str())) << dll;
  }
  EXPECT_FALSE(ReadFileText(setup_).empty());  // the whole run went through
}

// Runs a host shell script in a folder (Wine scans a folder for
// every name made or removed in it: 65,535 Windows calls take minutes, the
// shell seconds) and waits for done(), as the shell cannot be waited for.
void HostShell(const std::string& in, const std::string& script,
               const std::function<bool()>& done) {
  auto unixName = reinterpret_cast<char*(CDECL*)(LPCWSTR)>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  ASSERT_NE(nullptr, unixName);
  char* folder = unixName(std::wstring(in.begin(), in.end()).c_str());
  Process(std::string("/bin/sh"), "-c \"cd '" + std::string(folder) + "' && " + script + "\"");
  HeapFree(GetProcessHeap(), 0, folder);
  ASSERT_TRUE(WaitFor(done, 60000));
}

// With every name taken no folder of someone else's is used: message 201,
// nothing unpacked into any of them or run.
TEST_F(HardeningTest, EveryNameTakenRunsNothing) {
  const std::string parent = TempDir(), temp = parent + "harden-taken",
                    found = parent + "harden-found.txt";
  Env("TMP", temp);
  Env("TEMP", temp);
  DeleteFileA(found.c_str());
  HostShell(parent, "rm -rf harden-taken && mkdir harden-taken && cd harden-taken && seq 1 65535 | "
            "xargs printf 'Rav%x.tmp\\n' | xargs mkdir",
            [&] { return PathExists(temp + "\\Ravffff.tmp"); });
  exe_ = Process(VariantExe("download"), "");
  HWND box = nullptr;
  EXPECT_TRUE(WaitFor([&] { return (box = FindMessageBox(exe_.Id())) != nullptr; }, 60000));
  EXPECT_NE(std::string::npos, MessageBoxText(box).find("corrupted"));
  Click(box, IDOK);
  EXPECT_TRUE(exe_.Wait());
  HostShell(parent, "find harden-taken -mindepth 2 > harden-found.tmp; mv harden-found.tmp "
            "harden-found.txt; rm -rf harden-taken", [&] { return !PathExists(temp); });
  std::string inside = "?";
  EXPECT_TRUE(TryReadFile(found, &inside));
  EXPECT_EQ("", inside);
  DeleteFileA(found.c_str());
  EXPECT_TRUE(ReadFileText(setup_).empty());
}

std::string Dacl(const std::string& folder) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  char* text = nullptr;
  GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &sd);
  ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr);
  const std::string dacl = text != nullptr ? text : "";
  LocalFree(text);
  LocalFree(sd);
  return dacl;
}

// Two runs a millisecond apart: each folder has the protected DACL, and
// neither number is what a C library generator seeded with the tick gives.
TEST_F(HardeningTest, WorkFoldersAreProtectedAndUnforeseeable) {
  const std::vector<std::string> before = WorkFolders();
  const DWORD from = GetTickCount();
  Process runs[2] = {Process(VariantExe("download"), "")};
  Sleep(1);
  runs[1] = Process(VariantExe("download"), "");
  HWND wizards[2] = {WaitForWizard(runs[0].Id()), WaitForWizard(runs[1].Id())};
  const DWORD to = GetTickCount();
  std::vector<unsigned> numbers;
  for (const std::string& f : WorkFolders()) {
    if (std::find(before.begin(), before.end(), f) != before.end()) continue;
    // Wine keeps only what file modes can say: two entries, none for all.
    const std::string dacl = Dacl(f);
    EXPECT_TRUE(dacl == "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)" || (OnWine() && CountOf(dacl, "(A;") == 2)) << dacl;
    numbers.push_back(std::stoul(f.substr(f.rfind("Rav") + 3), nullptr, 16));
  }
  ASSERT_EQ(2u, numbers.size());
  EXPECT_NE(numbers[0], numbers[1]);
  int foreseen = 0;
  for (unsigned number : numbers)
    for (DWORD tick = from; tick != to + 1; ++tick)
      foreseen += number == std::max(1ul, ((tick * 214013ul + 2531011ul) >> 16) & 0x7FFFul);
  EXPECT_LT(foreseen, 2);
  for (HWND w : wizards) Click(w, IDCANCEL);
  for (Process& run : runs) EXPECT_TRUE(run.Wait());
}

// A copy beside the exe counts only when its hash is pinned (either of two
// pins); then the copy in the work folder runs, in the work folder.
TEST_F(HardeningTest, RedistributableBesideTheExeMustMatchAPin) {
  struct Case { std::string content; bool taken; } cases[] = {{"abd", false}, {"abc", true}, {ReadFileText(Redist()), true}};
  Env("RAVEN_REDIST_EXIT", "1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.size());
    DeleteLog();
    DeleteFileA(redist_.c_str());
    ASSERT_TRUE(WriteFileText(Beside("harden-pins", "dotnetfx.exe"), c.content));
    Serve("--status 404");
    const std::string log = Drive("harden-pins", {kNine, kTen});
    DeleteFileA(Beside("harden-pins", "dotnetfx.exe").c_str());
    size_t at = log.find("Creating temp folder \"") + 22;
    const std::string work = log.substr(at, log.find('"', at) - at);
    EXPECT_EQ(c.taken, server_.RequestLog().empty()) << log;
    EXPECT_EQ(!c.taken, log.find("matches no pinned hash") != std::string::npos) << log;
    EXPECT_EQ(c.taken, log.find("installation thread for : " + work + "\\dotnetfx.exe,") != std::string::npos);
    EXPECT_NE(std::string::npos, log.find(c.taken ? kTen : kNine)) << log;
    // The program itself ran, in the work folder.
    EXPECT_EQ(c.content.size() > 3, ReadFileText(redist_).find("\n" + work + "\n") != std::string::npos);
  }
}

// A log replaced by a second name of another file: nothing is written
// through it, and the run still completes.
TEST_F(HardeningTest, LogWithASecondNameIsNotWrittenThrough) {
  SetFrameworkInstalled(true);
  const std::string target = TempDir() + "harden-log-target.txt";
  ASSERT_TRUE(WriteFileText(target, "not a log\r\n"));
  ASSERT_TRUE(CreateHardLinkA(LogPath().c_str(), target.c_str(), nullptr));
  Drive("download");
  EXPECT_EQ("not a log\r\n", ReadFileText(target));
  EXPECT_FALSE(ReadFileText(setup_).empty());
  DeleteLog();
  DeleteFileA(target.c_str());
}

// The wizard's side of a worker, with nothing to show.
struct QuietOwner : WizardOwner {
  explicit QuietOwner(CSessionLog* log) : log_(log) {}
  CSessionLog* GetSessionLog() override { return log_; }
  void SetStatusText(const std::string&) override {}
  void SetDetailText(const std::string&) override {}
  void ShowProgressBar(bool) override {}
  void EnableCancelButton(bool) override {}
  void SetProgress(int, int) override {}
  void SetProgressStep(int) override {}
  void StepProgress() override {}
  void OffsetProgress(int) override {}
  void ExtendProgressRange(int) override {}
  void UpdateInstallPercent() override {}
  CSessionLog* log_;
};

// The worker itself, its time-out shortened from the wizard's minute: a
// server that stops sending fails the download within the time-out.
TEST_F(HardeningTest, StalledDownloadFailsWithinTheTimeOut) {
  CSessionLog log("Ravenstock", "BootStrap");
  QuietOwner owner(&log);
  Serve("--mode stall");
  DownloadParams params;
  params.host = "downloads.ravenstock.invalid";
  params.objectPath = "/downloads/framework.net.1.1.exe";
  params.localFile = TempDir() + "harden-download.exe";
  params.owner = &owner;
  params.timeoutMs = 2000;
  HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, &params, 0, nullptr);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 2000 + 5000));
  server_.Stop();  // a worker still reading ends now, before params go
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_TRUE(params.failed);
  DeleteFileA(params.localFile.c_str());
}

}  // namespace
