// The bootstrapper runs elevated from a folder full of other people's files:
// nothing it loads, unpacks into, runs or appends to may be someone else's.
#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../fixtures/http_server/loopback_server.h"
#include "framework/sha256.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "resource_ids.h"
#include "support/e2e.h"
#include "wizard/params.h"

namespace {

using namespace e2e;

const std::string kNine = "controls for step 9<", kTen = "controls for step 10<";

std::string Redist() { return BuildDir() + "\\win32\\demo\\dotnetfx.exe"; }
std::string Beside(const std::string& variant, const std::string& name) {
  const std::string exe = VariantExe(variant);
  return exe.substr(0, exe.rfind('\\') + 1) + name;
}
// The text after `key` up to the next double quote (a path in a record).
std::string Quoted(const std::string& log, const std::string& key) {
  size_t at = log.find(key);
  return at == std::string::npos ? "" : log.substr(at + key.size(), log.find('"', at + key.size()) - at - key.size());
}

class HardeningTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetFrameworkInstalled(false);
    DeleteLog();
    for (const std::string* f : {&setupRecord_, &redistRecord_}) DeleteFileA(f->c_str());
    Env("RAVEN_SETUP_RECORD", setupRecord_);
    Env("RAVEN_REDIST_RECORD", redistRecord_);
    Env("RAVEN_SETUP_AUTOCLOSE", "300");
  }
  void TearDown() override {
    exe_.Kill();
    proxy_.reset();
    server_.Stop();
    for (const std::string& name : env_) SetEnvironmentVariableA(name.c_str(), nullptr);
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductA("{0F482E6F-842E-40EF-8E3F-C770D0AFF0EB}", 0, INSTALLSTATE_ABSENT);
    SetFrameworkInstalled(false);
  }
  void Env(const char* name, const std::string& value) {
    SetEnvironmentVariableA(name, value.c_str());
    env_.push_back(name);
  }
  void Serve(const std::string& options, const std::string& body = Redist()) {
    proxy_.reset();
    ASSERT_TRUE(server_.Start(FixtureExe("http_server.exe"), body, options, TempDir()));
    proxy_.reset(new loopback::ProxySetting(server_.Port()));
  }
  // A user who accepts the licence and presses Next whenever it is enabled,
  // once per step, until the exe ends or the log shows a stop; then Cancel.
  std::string Drive(const std::string& variant, const std::vector<std::string>& stops = {}) {
    exe_ = Process(VariantExe(variant), "");
    HWND w = WaitForWizard(exe_.Id());
    EXPECT_NE(nullptr, w);
    int clickedAt = -1;
    EXPECT_TRUE(WaitFor([&] {
      if (exe_.Wait(0)) return true;
      const std::string log = ReadLog();
      if (log.empty()) return false;  // held open by the exe for a record
      for (const std::string& stop : stops)
        if (log.find(stop) != std::string::npos) return true;
      const int steps = CountOf(log, "New step reached");
      if (ControlVisible(w, IDC_LICENSE) && !ButtonChecked(w, IDC_ACCEPT)) {
        Click(w, IDC_ACCEPT);
      } else if (steps != clickedAt && ControlEnabled(w, IDOK)) {
        clickedAt = steps;
        Click(w, IDOK);
      }
      return false;
    }, 120000));
    if (!exe_.Wait(0)) Click(w, IDCANCEL);
    EXPECT_TRUE(exe_.Wait());
    return ReadLog();
  }

  std::string setupRecord_ = TempDir() + "harden-setup.txt";
  std::string redistRecord_ = TempDir() + "harden-redist.txt";
  Process exe_;
  loopback::Server server_;
  std::unique_ptr<loopback::ProxySetting> proxy_;
  std::vector<std::string> env_;
};

// Planted look-alikes of the DLLs the program loads after start-up are never
// taken, through a download and an installation.
TEST_F(HardeningTest, DllsBesideTheExeAreNeverLoaded) {
  const char* dlls[] = {"msi", "wininet", "rsaenh", "urlmon", "version", "secur32"};
  const std::string markers = TempDir() + "harden-markers";
  CreateDirectoryA(markers.c_str(), nullptr);
  std::string overrides;
  for (const char* dll : dlls) {
    ASSERT_TRUE(CopyFileA(FixtureExe("marker.dll").c_str(), Beside("harden-dlls", std::string(dll) + ".dll").c_str(), FALSE));
    overrides += std::string(overrides.empty() ? "" : ",") + dll;
  }
  Env("WINEDLLOVERRIDES", overrides + "=n,b");
  Env("RAVEN_MARKER_DIR", markers);
  Serve("--mode ok");
  Drive("harden-dlls", {kNine, kTen});
  for (const char* dll : dlls) {
    DeleteFileA(Beside("harden-dlls", std::string(dll) + ".dll").c_str());
    EXPECT_FALSE(PathExists(markers + "\\" + dll + ".dll.loaded")) << dll;
    DeleteFileA((markers + "\\" + dll + ".dll.loaded").c_str());
  }
  EXPECT_FALSE(ReadFileText(redistRecord_).empty());
  EXPECT_FALSE(ReadFileText(setupRecord_).empty());
}

// With every name taken, no folder of someone else's is used: message 201,
// nothing unpacked or run.
TEST_F(HardeningTest, EveryNameTakenRunsNothing) {
  const std::string temp = TempDir() + "harden-taken";
  CreateDirectoryA(temp.c_str(), nullptr);
  Env("TMP", temp);
  Env("TEMP", temp);
  // Wine scans a folder for every name it creates there: through Windows
  // calls these folders would take many minutes, a host shell takes seconds.
  auto unixName = reinterpret_cast<char*(CDECL*)(LPCWSTR)>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char name[MAX_PATH];
  if (unixName != nullptr) {  // the host's processes cannot be waited for
    char* folder = unixName(std::wstring(temp.begin(), temp.end()).c_str());
    Process(std::string("/bin/sh"), "-c \"cd '" + std::string(folder) +
            "' && seq 1 65535 | xargs printf 'Rav%x.tmp\\n' | xargs mkdir\"");
    HeapFree(GetProcessHeap(), 0, folder);
    ASSERT_TRUE(WaitFor([&] { return PathExists((GetTempFileNameA(temp.c_str(), "Rav", 0xFFFF, name), name)); }, 60000));
  }
  for (unsigned n = 1; n <= 0xFFFF && unixName == nullptr; ++n)
    CreateDirectoryA((GetTempFileNameA(temp.c_str(), "Rav", n, name), name), nullptr);
  exe_ = Process(VariantExe("download"), "");
  HWND box = nullptr;
  EXPECT_TRUE(WaitFor([&] { return (box = FindMessageBox(exe_.Id())) != nullptr; }, 60000));
  EXPECT_NE(std::string::npos, MessageBoxText(box).find("corrupted"));
  Click(box, IDOK);
  EXPECT_TRUE(exe_.Wait());
  int notEmpty = 0;  // or missing
  for (unsigned n = 1; n <= 0xFFFF; ++n)
    notEmpty += !RemoveDirectoryA((GetTempFileNameA(temp.c_str(), "Rav", n, name), name));
  RemoveDirectoryA(temp.c_str());
  EXPECT_EQ(0, notEmpty);
  EXPECT_TRUE(ReadFileText(setupRecord_).empty());
}

// "P" when protected, then type/flags/mask/SID of each entry.
std::string Dacl(const std::string& folder) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &sd) != 0) return "unreadable";
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(sd, &control, &revision);
  std::string text = control & SE_DACL_PROTECTED ? "P " : "- ";
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    char* sid = nullptr;
    GetAce(dacl, i, reinterpret_cast<void**>(&ace));
    ConvertSidToStringSidA(&ace->SidStart, &sid);
    text += std::to_string(ace->Header.AceType) + "/" + std::to_string(ace->Header.AceFlags) + "/" +
            std::to_string(ace->Mask) + "/" + sid + " ";
    LocalFree(sid);
  }
  LocalFree(sd);
  return text;
}

// Two runs a millisecond apart: each folder carries exactly the protected
// DACL, and neither number is the one a seed from the clock would give.
TEST_F(HardeningTest, WorkFoldersAreProtectedAndUnforeseeable) {
  const std::vector<std::string> before = WorkFolders();
  const DWORD from = GetTickCount();
  Process runs[2] = {Process(VariantExe("download"), "")};
  Sleep(1);
  runs[1] = Process(VariantExe("download"), "");
  HWND wizards[2] = {WaitForWizard(runs[0].Id()), WaitForWizard(runs[1].Id())};
  const DWORD to = GetTickCount();
  std::vector<std::string> fresh;
  for (const std::string& f : WorkFolders())
    if (std::find(before.begin(), before.end(), f) == before.end()) fresh.push_back(f);
  ASSERT_EQ(2u, fresh.size());
  // What this platform keeps of the protected descriptor (Wine keeps only
  // what its file modes can say); Windows keeps it whole.
  const std::string reference = TempDir() + "harden-dacl";
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", 1, &sd, nullptr));
  SECURITY_ATTRIBUTES sa = {sizeof sa, sd, FALSE};
  CreateDirectoryA(reference.c_str(), &sa);
  LocalFree(sd);
  const std::string expected = Dacl(reference);
  RemoveDirectoryA(reference.c_str());
  EXPECT_TRUE(expected[0] == '-' || expected == "P 0/3/2032127/S-1-5-18 0/3/2032127/S-1-5-32-544 ");
  int foreseen = 0;
  for (const std::string& folder : fresh) {
    EXPECT_EQ(expected, Dacl(folder)) << folder;
    // The C library's generator seeded with the tick count, as msvcrt has it.
    const unsigned number = std::stoul(folder.substr(folder.rfind("Rav") + 3), nullptr, 16);
    for (DWORD tick = from; tick != to + 1; ++tick) 
      foreseen += number == std::max(1ul, ((tick * 214013ul + 2531011ul) >> 16) & 0x7FFFul);
  }
  EXPECT_NE(fresh[0], fresh[1]);
  EXPECT_LT(foreseen, 2);
  for (int i = 0; i < 2; ++i) Click(wizards[i], IDCANCEL);
  for (Process& run : runs) EXPECT_TRUE(run.Wait());
}

// A copy beside the exe counts only when its hash is pinned (either of two
// pins); then the copy in the work folder runs, in the work folder.
TEST_F(HardeningTest, RedistributableBesideTheExeMustMatchAPin) {
  const std::string beside = Beside("harden-pins", "dotnetfx.exe");
  struct Case { std::string content; bool taken; } cases[] = {{"abd", false}, {"abc", true}, {ReadFileText(Redist()), true}};
  Env("RAVEN_REDIST_EXIT", "1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content.size());
    DeleteLog();
    DeleteFileA(redistRecord_.c_str());
    ASSERT_TRUE(WriteFileText(beside, c.content));
    Serve("--status 404");
    const std::string log = Drive("harden-pins", {kNine, kTen});
    DeleteFileA(beside.c_str());
    const std::string work = Quoted(log, "Creating temp folder \"");
    EXPECT_EQ(c.taken, server_.RequestLog().empty()) << log;
    EXPECT_EQ(!c.taken, log.find("matches no pinned hash") != std::string::npos) << log;
    EXPECT_NE(std::string::npos, log.find(c.taken ? kTen : kNine)) << log;
    if (!c.taken) continue;
    EXPECT_NE(std::string::npos, log.find("installation thread for : " + work + "\\dotnetfx.exe,")) << log;
    // The program itself ran in the work folder.
    EXPECT_EQ(c.content.size() > 3, ReadFileText(redistRecord_).find("\n" + work + "\n") != std::string::npos);
  }
}

// A second run against a server that now answers 404 is not served the
// first run's response from a cache.
TEST_F(HardeningTest, CachedResponseIsNotServed) {
  Env("RAVEN_REDIST_EXIT", "1");
  Serve("--mode ok");
  EXPECT_NE(std::string::npos, Drive("download", {kNine, kTen}).find(kTen));
  DeleteLog();
  Serve("--status 404");
  EXPECT_NE(std::string::npos, Drive("download", {kNine, kTen}).find(kNine));
  EXPECT_FALSE(server_.RequestLog().empty());
}

// A log replaced by a link to another file: nothing is written through it,
// and the run still completes.
TEST_F(HardeningTest, LogThatIsALinkIsNotWrittenThrough) {
  SetFrameworkInstalled(true);
  const std::string target = TempDir() + "harden-log-target.txt";
  BOOLEAN(WINAPI * symlink)(LPCSTR, LPCSTR, DWORD) = reinterpret_cast<BOOLEAN(WINAPI*)(LPCSTR, LPCSTR, DWORD)>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));
  for (bool hard : {false, true}) {
    SCOPED_TRACE(hard ? "hard link" : "symbolic link");
    DeleteLog();
    DeleteFileA(setupRecord_.c_str());
    ASSERT_TRUE(WriteFileText(target, "not a log\r\n"));
    ASSERT_TRUE(hard ? CreateHardLinkA(LogPath().c_str(), target.c_str(), nullptr)
                     : symlink != nullptr && symlink(LogPath().c_str(), target.c_str(), 0));
    // Wine's CreateSymbolicLinkA leaves a plain file, and the links it
    // follows from the host look like plain files to every call.
    if (!hard && !(GetFileAttributesA(LogPath().c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)) {
      std::printf("no symbolic link on this platform: that row is skipped\n");
      continue;
    }
    Drive("download");
    EXPECT_EQ("not a log\r\n", ReadFileText(target));
    EXPECT_FALSE(ReadFileText(setupRecord_).empty());
  }
  DeleteLog();
  DeleteFileA(target.c_str());
}

// The download worker itself: a body longer than announced never makes the
// file longer, and a server that stops sending fails the download within
// the time-out (shortened here from the wizard's minute).
struct QuietOwner : WizardOwner {
  CSessionLog log{"Ravenstock", "BootStrap"};
  CSessionLog* GetSessionLog() override { return &log; }
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
};

TEST_F(HardeningTest, DownloadStopsAtItsLengthAndTimesOut) {
  const std::string body = ReadFileText(Redist());
  QuietOwner owner;
  for (const char* mode : {"overlong", "stall"}) {
    SCOPED_TRACE(mode);
    Serve(std::string("--mode ") + mode);
    DownloadParams params;
    params.host = "downloads.ravenstock.invalid";
    params.port = 80;
    params.objectPath = "/downloads/framework.net.1.1.exe";
    params.localFile = TempDir() + "harden-download.exe";
    params.owner = &owner;
    params.expectedSha256 = Sha256Hex(body.data(), body.size());
    params.timeoutMs = 2000;
    const DWORD start = GetTickCount();
    HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, &params, 0, nullptr);
    size_t largest = 0;
    EXPECT_TRUE(WaitFor([&] {
      largest = std::max(largest, ReadFileText(params.localFile).size());
      return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    }, 30000));
    server_.Stop();  // a worker still reading ends now, before params go
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    EXPECT_LE(largest, body.size());
    if (std::string(mode) == "stall") {
      EXPECT_TRUE(params.failed);
      EXPECT_LT(GetTickCount() - start, 2000u + 5000u);
    } else {
      EXPECT_TRUE(params.failed || ReadFileText(params.localFile) == body);
    }
    DeleteFileA(params.localFile.c_str());
  }
}

}  // namespace
