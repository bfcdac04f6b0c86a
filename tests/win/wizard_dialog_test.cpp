// The framework's modal dialog on a thread of this process, driven from
// the test's thread: results of the subclassed window procedure, the keys
// the dialog manager turns into commands, the string exchange, and what
// happens when a handler throws.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "appkit/dialog.h"
#include "appkit/exceptions.h"
#include "support/e2e.h"

namespace {

const int kThrowButton = 1001, kLabel = 1002;
const UINT kAsk = WM_APP + 7;

enum class Throw { kFile, kUser, kOther };

class ProbeDialog : public CDialog {
 public:
  ProbeDialog() : CDialog(500) { BindText(kLabel, &label); }
  Throw what = Throw::kFile;
  std::string label = "bound text";
  volatile LONG oks = 0;
  INT_PTR result = 0;

 protected:
  bool OnCommand(int id, int code, HWND control) override {
    if (code == BN_CLICKED && id == kThrowButton) {
      if (what == Throw::kFile) throw CFileException(5, "probe.txt");
      if (what == Throw::kUser) throw CUserException();
      throw std::runtime_error("not of the family");
    }
    if (code == BN_CLICKED && id == IDOK) {
      InterlockedIncrement(&oks);
      return true;
    }
    return CDialog::OnCommand(id, code, control);
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == kAsk) {
      UpdateData(FALSE);
      return 4242;
    }
    return CDialog::WindowProc(message, wParam, lParam);
  }
};

DWORD WINAPI RunModal(LPVOID p) {
  auto* dialog = static_cast<ProbeDialog*>(p);
  dialog->result = dialog->DoModal();
  return 0;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    thread_ = CreateThread(nullptr, 0, RunModal, &dialog_, 0, nullptr);
    ASSERT_NE(nullptr, thread_);
    // Visible only once its controls exist: found earlier, a control's
    // handle would be null and a message posted to it lost.
    ASSERT_TRUE(e2e::WaitFor([&] {
      window_ = FindWindowA(nullptr, "Dialog probe");
      return window_ != nullptr && IsWindowVisible(window_);
    }));
  }
  void TearDown() override {
    if (IsWindow(window_)) PostMessageA(window_, WM_COMMAND, IDCANCEL, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }

  HWND Box() { return e2e::FindMessageBox(GetCurrentProcessId(), nullptr); }

  HWND ThrowAndWaitForBox(Throw what) {
    dialog_.what = what;
    PostMessageA(window_, WM_COMMAND, MAKEWPARAM(kThrowButton, BN_CLICKED), 0);
    HWND box = nullptr;
    e2e::WaitFor([&] { return (box = Box()) != nullptr; });
    return box;
  }

  // A box would hold the handler, and so this send, until it is closed.
  bool ThrowReturnsWithoutBox(Throw what) {
    dialog_.what = what;
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window_, WM_COMMAND, MAKEWPARAM(kThrowButton, BN_CLICKED),
                               0, SMTO_NORMAL, 5000, &result) != 0;
  }

  void CloseBox(HWND box) {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(e2e::WaitFor([&] { return Box() == nullptr; }));
  }

  ProbeDialog dialog_;
  HANDLE thread_ = nullptr;
  HWND window_ = nullptr;
};

TEST_F(DialogTest, OverrideAnswersWithRealResultsAndBindsStrings) {
  EXPECT_EQ(4242, SendMessageA(window_, kAsk, 0, 0));
  EXPECT_EQ("bound text", e2e::ControlText(window_, kLabel));
}

TEST_F(DialogTest, EnterIsOkAndEscapeEndsWithCancel) {
  HWND ok = GetDlgItem(window_, IDOK);
  PostMessageA(ok, WM_KEYDOWN, VK_RETURN, 0);
  ASSERT_TRUE(e2e::WaitFor([&] { return dialog_.oks == 1; }));
  PostMessageA(ok, WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread_, 10000));
  EXPECT_EQ(IDCANCEL, dialog_.result);
  EXPECT_EQ(nullptr, dialog_.m_hWnd);
}

TEST_F(DialogTest, HandlerExceptionsAreReportedAndTheDialogGoesOn) {
  HWND box = ThrowAndWaitForBox(Throw::kFile);
  ASSERT_NE(nullptr, box);
  EXPECT_NE(std::string::npos, e2e::MessageBoxText(box).find("probe.txt"));
  CloseBox(box);

  box = ThrowAndWaitForBox(Throw::kOther);
  ASSERT_NE(nullptr, box);
  EXPECT_FALSE(e2e::MessageBoxText(box).empty());
  CloseBox(box);

  // The silent abort: no box at all.
  EXPECT_TRUE(ThrowReturnsWithoutBox(Throw::kUser));
  EXPECT_EQ(4242, SendMessageA(window_, kAsk, 0, 0));
}

}  // namespace
