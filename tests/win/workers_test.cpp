// Fault paths no run of the exe reaches: a download without a pin, records
// from racing threads or into a file someone else holds, a work folder
// name that is taken.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "framework/workers.h"
#include "log/session_log.h"
#include "payload/work_folder.h"
#include "support/wizard_session.h"
#include "wizard/params.h"

namespace {

// The wizard's side without a wizard: only the log is there.
class WorkerTest : public e2e::WizardSession, public WizardOwner {
 public:
  CSessionLog* GetSessionLog() override { return &log_; }
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
  CSessionLog log_{"Ravenstock", "BootStrap"};
};

// Without a window the worker tells nobody.
TEST_F(WorkerTest, DownloadWithoutAPinIsDeleted) {
  Serve("--mode ok");
  DownloadParams p;
  p.host = "downloads.ravenstock.invalid";
  p.port = 80;
  p.objectPath = "/downloads/framework.net.1.1.exe";
  p.localFile = ScratchFile("dotnetfx-no-pin.exe");
  p.owner = this;
  DownloadWorker(&p);
  EXPECT_EQ(200u, p.statusCode);
  EXPECT_TRUE(p.failed);
  EXPECT_FALSE(e2e::PathExists(p.localFile));
  EXPECT_TRUE(e2e::InOrder(e2e::ReadLog(), {"Resource downloaded", "<exception status=\"13\"",
                                            "Terminating .net download thread"}));
}

DWORD WINAPI WriteRecords(void* log) {
  const std::string id = std::to_string(GetCurrentThreadId()) + ":";
  for (int i = 0; i < 60; i += 2) {
    static_cast<CSessionLog*>(log)->WriteInfo("BootStrap", id + std::to_string(i));
    static_cast<CSessionLog*>(log)->WriteError("BootStrap", id + std::to_string(i + 1), 2);
  }
  return 0;
}

// Whole records back to back, each thread's in its order; a file held by
// another opener costs records, never the run, and is tried again later.
TEST_F(WorkerTest, LogRecordsNeverInterleaveAndAHeldFileDropsThem) {
  CSessionLog& log = log_;
  HANDLE threads[4];
  for (HANDLE& h : threads) h = CreateThread(nullptr, 0, WriteRecords, &log, 0, nullptr);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(4, threads, TRUE, 120000));
  for (HANDLE h : threads) CloseHandle(h);
  const std::string text = e2e::ReadLog();
  const std::regex record(
      "\t<info [^>]*>(\\d+):(\\d+)</info>\r\n|\t<error [^>]* message=\"(\\d+):(\\d+)\">\r\n"
      "\t\t<exception status=\"2\" message=\"[^\"]*\"/>\r\n\t</error>\r\n");
  std::map<int, int> next;
  size_t end = 0;
  for (std::sregex_iterator m(text.begin(), text.end(), record), last; m != last; ++m) {
    ASSERT_EQ(end, static_cast<size_t>(m->position())) << text.substr(end, 200);
    end += m->length();
    const int k = (*m)[1].matched ? 1 : 3, r = std::stoi((*m)[k + 1].str());
    EXPECT_EQ(next[std::stoi((*m)[k].str())]++, r);
    EXPECT_EQ(r % 2 == 0, k == 1);
  }
  EXPECT_EQ(text.size(), end);
  EXPECT_EQ(4u, next.size());

  HANDLE holder = CreateFileA(e2e::LogPath().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  EXPECT_NO_THROW(log.WriteInfo("BootStrap", "dropped"));
  EXPECT_NO_THROW(log.WriteError("BootStrap", "dropped", 5));
  CloseHandle(holder);
  log.WriteInfo("BootStrap", "back");
  EXPECT_EQ(text + "\t<info ", e2e::ReadLog().substr(0, text.size() + 7));
  EXPECT_EQ(0, e2e::CountOf(e2e::ReadLog(), "dropped"));
}

// A taken name is drawn again; when every draw is taken the tries are
// bounded and the folder found is not counted as this run's.
TEST_F(WorkerTest, WorkFolderNameTakenIsDrawnAgain) {
  auto unused = [](unsigned n) {
    char name[MAX_PATH];
    while (GetTempFileNameA(e2e::TempDir().c_str(), "Rav", n, name), e2e::PathExists(name)) ++n;
    return n;
  };
  const unsigned taken = unused(0xF100), fresh = unused(taken + 1);
  std::vector<unsigned> draws;
  auto make = [&](std::vector<unsigned> numbers, bool* created) {
    draws = numbers;
    return CreateWorkFolder("Ravenstock", log_, created,
                            [&] {
                              const unsigned n = draws.front();
                              if (draws.size() > 1) draws.erase(draws.begin());
                              return n;
                            });
  };
  bool created = false;
  const std::string first = make({taken}, &created), second = make({taken, fresh}, &created);
  EXPECT_TRUE(created);
  EXPECT_NE(first, second);
  e2e::DeleteLog();
  EXPECT_EQ(first, make({taken}, &created));
  EXPECT_FALSE(created);
  EXPECT_EQ(kWorkFolderAttempts, e2e::CountOf(e2e::ReadLog(), "status=\"183\""));
  for (const std::string& f : {first, second}) RemoveDirectoryA(f.c_str());
}

}  // namespace
