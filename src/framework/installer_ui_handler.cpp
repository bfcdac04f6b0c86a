// The Windows Installer's external UI callback: a thin shell that hands
// each message to the process-wide InstallerProgress and carries its
// effects to the wizard through the ProcessParams block's owner.
#include <windows.h>
#include <shlwapi.h>

#include "framework/installer_progress.h"
#include "framework/workers.h"
#include "log/session_log.h"
#include "worker/params.h"
#include "worker/wizard_owner.h"

namespace {

class WizardProgressSink : public InstallerProgressSink {
 public:
  explicit WizardProgressSink(const ProcessParams& params)
      : window_(params.window), owner_(params.owner) {}

  void SetProgress(int position, int maximum) override {
    if (owner_ != nullptr) owner_->SetProgress(position, maximum);
  }
  void SetProgressStep(int step) override {
    if (owner_ != nullptr) owner_->SetProgressStep(step);
  }
  void StepProgress() override {
    if (owner_ != nullptr) owner_->StepProgress();
  }
  void OffsetProgress(int delta) override {
    if (owner_ != nullptr) owner_->OffsetProgress(delta);
  }
  void ExtendProgressRange(int extra) override {
    if (owner_ != nullptr) owner_->ExtendProgressRange(extra);
  }
  void SetDetailText(const std::string& text) override {
    if (owner_ != nullptr) owner_->SetDetailText(text);
  }
  void EnableCancelButton(bool enable) override {
    if (owner_ != nullptr) owner_->EnableCancelButton(enable);
  }
  int ShowMessageBox(const char* text, const char* caption,
                     std::uint32_t style, std::uint16_t language) override {
    // No window: a run nobody watches. The text goes to the log, and 0
    // leaves the answer to the installer, as its own silent mode does.
    if (window_ == nullptr) {
      CSessionLog* log = owner_ != nullptr ? owner_->GetSessionLog() : nullptr;
      if (log != nullptr) log->WriteInfo("BootStrap", std::string(caption) + " : " + text);
      return 0;
    }
    MessageBeep(style & 0xF0);
    return MessageBoxExA(window_, text, caption, style, language);
  }
  std::string ActionText(const char* message) override {
    const char* found = StrRStrIA(message, nullptr, ". ");
    return found != nullptr ? std::string(found + 2) : std::string();
  }

 private:
  HWND window_;
  WizardOwner* owner_;
};

}  // namespace

int WINAPI InstallerUiHandler(LPVOID context, UINT messageType,
                              LPCSTR message) {
  if (message == nullptr || context == nullptr) return 0;
  const ProcessParams& params = *static_cast<const ProcessParams*>(context);
  try {
    WizardProgressSink sink(params);
    return InstallerHandlerState().Handle(messageType, message, params.stop,
                                          sink);
  } catch (...) {
    // Nothing may unwind into the installer. A failed update of the bar
    // is not worth the installation; the user's Cancel still is.
    const bool progress =
        (messageType & kInstallKindMask) == kInstallProgress;
    if (progress && params.stop) return IDCANCEL;
    return progress ? IDOK : 0;
  }
}
