// The installer's UI callback called directly, as the Windows Installer
// calls it: the answers it gives, what reaches the wizard, and the
// installer's message boxes shown for real.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/installer_progress.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "support/e2e.h"
#include "support/worker_recorder.h"
#include "wizard/params.h"

namespace {

// The calls that the handler's answers decide; the bar's step and range
// calls follow from them.
std::vector<std::string> Decisive(const std::vector<std::string>& calls) {
  std::vector<std::string> out;
  for (const std::string& c : calls)
    for (const char* kind : {"progress ", "offset ", "detail ", "cancel "})
      if (c.rfind(kind, 0) == 0) out.push_back(c);
  return out;
}

const UINT kProgress = 0x0A000000;      // INSTALLMESSAGE_PROGRESS
const UINT kError = 0x01000000;         // INSTALLMESSAGE_ERROR
const UINT kActionStart = 0x08000000;   // INSTALLMESSAGE_ACTIONSTART
const UINT kCommonData = 0x0B000000;    // INSTALLMESSAGE_COMMONDATA

class InstallHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallerHandlerState() = InstallerProgress();
    params_.owner = &owner_;
  }
  void TearDown() override { InstallerHandlerState() = InstallerProgress(); }

  int Call(UINT type, const char* text) {
    return InstallerUiHandler(&params_, type, text);
  }

  e2e::RecorderOwner owner_;
  ProcessParams params_;
};

TEST_F(InstallHandlerTest, ProgressIsCancelledOnceTheStopFlagIsSet) {
  EXPECT_EQ(IDOK, Call(kProgress, "1: 0 2: 61223 3: 0 4: 0 "));
  EXPECT_EQ(IDOK, Call(kProgress, "not a progress text"));
  params_.stop = true;
  EXPECT_EQ(IDCANCEL, Call(kProgress, "1: 2 2: 100 3: 0 4: 0 "));
  EXPECT_EQ(IDCANCEL, Call(kProgress, "not a progress text"));
  EXPECT_EQ(IDCANCEL, Call(kProgress, ""));
  EXPECT_EQ(0, Call(kProgress, nullptr));
  const std::vector<std::string> expected = {"progress 0/61223", "offset 100"};
  EXPECT_EQ(expected, Decisive(owner_.calls));
}

TEST_F(InstallHandlerTest, ActionStartShowsTheDescriptionOnceTheBarIsReset) {
  Call(kActionStart, "Action 12:00:00: InstallFiles. Copying new files");
  EXPECT_TRUE(owner_.calls.empty());
  Call(kProgress, "1: 0 2: 100 3: 0 4: 0 ");
  Call(kActionStart, "Action 12:00:00: InstallFiles. Copying new files");
  Call(kActionStart, "Action 12:00:00: CostFinalize");
  const std::vector<std::string> expected = {"progress 0/100", "detail [Copying new files]",
                                             "detail []"};
  EXPECT_EQ(expected, Decisive(owner_.calls));
}

// The box is modal on the calling thread, as on the installer's thread, so
// the handler runs on a thread of its own while this one answers the box.
struct BoxCall {
  ProcessParams* params;
  UINT type;
  const char* text;
  int result;
};

DWORD WINAPI CallHandler(LPVOID arg) {
  BoxCall* call = static_cast<BoxCall*>(arg);
  call->result = InstallerUiHandler(call->params, call->type, call->text);
  return 0;
}

HWND OurMessageBox() {
  HWND found = nullptr;
  e2e::WaitFor([&found] {
    found = e2e::FindMessageBox(GetCurrentProcessId());
    return found != nullptr && IsWindowVisible(found);
  });
  return found;
}

std::string WindowText(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

TEST_F(InstallHandlerTest, ErrorBoxOffersTheButtonsTheInstallerAsks) {
  Call(kCommonData, "1: 0 2: 1033 3: 0 ");
  BoxCall call = {&params_, kError | MB_RETRYCANCEL | MB_ICONWARNING,
                  "Disk full. Retry?", 0};
  HANDLE thread = CreateThread(nullptr, 0, CallHandler, &call, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  HWND box = OurMessageBox();
  ASSERT_NE(nullptr, box);
  EXPECT_EQ("Error", WindowText(box));
  EXPECT_EQ("Disk full. Retry?", e2e::MessageBoxText(box));
  EXPECT_NE(nullptr, GetDlgItem(box, IDRETRY));
  EXPECT_EQ(nullptr, GetDlgItem(box, IDOK));
  PostMessageA(GetDlgItem(box, IDRETRY), BM_CLICK, 0, 0);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 20000));
  CloseHandle(thread);
  EXPECT_EQ(IDRETRY, call.result);
}

}  // namespace
