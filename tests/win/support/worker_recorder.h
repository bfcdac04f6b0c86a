// The wizard side of a worker thread without a wizard: an owner that notes
// every call in order, and a window that notes every worker message.
#ifndef RAVEN_TESTS_WIN_SUPPORT_WORKER_RECORDER_H
#define RAVEN_TESTS_WIN_SUPPORT_WORKER_RECORDER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "wizard/messages.h"
#include "wizard/wizard_owner.h"

namespace e2e {

// Calls are noted as "status [text]", "detail [text]", "show bar",
// "hide bar", "cancel on", "cancel off", "progress P/M", "step N",
// "stepit", "offset D", "extend N", "percent".
class RecorderOwner : public WizardOwner {
 public:
  explicit RecorderOwner(CSessionLog* log = nullptr) : log_(log) {}
  CSessionLog* GetSessionLog() override { return log_; }
  void SetStatusText(const std::string& text) override { Note("status [" + text + "]"); }
  void SetDetailText(const std::string& text) override { Note("detail [" + text + "]"); }
  void ShowProgressBar(bool show) override { Note(show ? "show bar" : "hide bar"); }
  void EnableCancelButton(bool on) override { Note(on ? "cancel on" : "cancel off"); }
  void SetProgress(int position, int maximum) override {
    Note("progress " + std::to_string(position) + "/" + std::to_string(maximum));
  }
  void SetProgressStep(int step) override { Note("step " + std::to_string(step)); }
  void StepProgress() override { Note("stepit"); }
  void OffsetProgress(int delta) override { Note("offset " + std::to_string(delta)); }
  void ExtendProgressRange(int extra) override { Note("extend " + std::to_string(extra)); }
  void UpdateInstallPercent() override { Note("percent"); }

  // True when a noted call begins with prefix.
  bool Called(const std::string& prefix) const;

  std::vector<std::string> calls;
  // Runs after each noted call, on the worker's thread.
  std::function<void(const std::string&)> onCall;

 private:
  void Note(const std::string& call) {
    calls.push_back(call);
    if (onCall) onCall(call);
  }
  CSessionLog* log_;
};

struct WorkerMessage {
  UINT id;
  WPARAM wParam;
  LPARAM lParam;
  unsigned long exitCode;  // of the ProcessParams block, when it came
  bool failed;
};

// A window of this thread that notes the worker messages and WM_TIMER.
// `onMessage` runs while a message is handled, as the wizard's handler
// would (e.g. to raise a cancel flag between two chunks).
class MessageRecorder {
 public:
  // processBlocks: lParam of the end messages is a ProcessParams whose
  // exit code and failed flag are noted.
  explicit MessageRecorder(bool processBlocks);
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  HWND Window() const { return window_; }
  int Count(UINT id) const;
  std::vector<WorkerMessage> Of(UINT id) const;

  std::vector<WorkerMessage> messages;
  std::function<void(const WorkerMessage&)> onMessage;

 private:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp);
  HWND window_ = nullptr;
  bool processBlocks_;
};

// Runs proc(param) on a thread of its own while this thread serves its
// windows (the workers' sent messages need that), calling `during` between
// turns. False when it did not end in time; *exitCode gets its result.
bool RunWorkerThread(LPTHREAD_START_ROUTINE proc, void* param,
                     const std::function<void()>& during = nullptr,
                     DWORD timeoutMs = 60000, DWORD* exitCode = nullptr);

}  // namespace e2e

#endif
