// What the Windows Installer's external UI messages do to the wizard while
// the framework package installs (platform-free). The Windows callback
// (InstallerUiHandler) is a thin shell over InstallerProgress::Handle.
#ifndef RAVEN_FRAMEWORK_INSTALLER_PROGRESS_H
#define RAVEN_FRAMEWORK_INSTALLER_PROGRESS_H

#include <cstdint>
#include <string>

// Message kinds: the top byte of the installer's message type.
enum InstallerMessageKind : std::uint32_t {
  kInstallFatalExit = 0x00000000,
  kInstallError = 0x01000000,
  kInstallWarning = 0x02000000,
  kInstallUser = 0x03000000,
  kInstallInfo = 0x04000000,
  kInstallFilesInUse = 0x05000000,
  kInstallResolveSource = 0x06000000,
  kInstallOutOfDiskSpace = 0x07000000,
  kInstallActionStart = 0x08000000,
  kInstallActionData = 0x09000000,
  kInstallProgress = 0x0A000000,
  kInstallCommonData = 0x0B000000,
  kInstallInitialize = 0x0C000000,
  kInstallTerminate = 0x0D000000,
  kInstallShowDialog = 0x0E000000,
};
constexpr std::uint32_t kInstallKindMask = 0xFF000000;
constexpr std::uint32_t kInstallStyleMask = 0x00FFFFFF;

// The handler's answers to the installer (the dialog-box result codes).
constexpr int kInstallerNotHandled = 0;
constexpr int kInstallerOk = 1;      // IDOK
constexpr int kInstallerCancel = 2;  // IDCANCEL

// Where the handler's effects go: the wizard's progress operations and the
// message box. Native tests implement it with a recorder.
class InstallerProgressSink {
 public:
  virtual void SetProgress(int position, int maximum) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void StepProgress() = 0;
  virtual void OffsetProgress(int delta) = 0;
  virtual void ExtendProgressRange(int extra) = 0;
  virtual void SetDetailText(const std::string& text) = 0;
  virtual void EnableCancelButton(bool enable) = 0;
  // Beeps and shows the installer's text; returns the box's result.
  virtual int ShowMessageBox(const char* text, const char* caption,
                             std::uint32_t style, std::uint16_t language) = 0;
  // The description part of an action-start text: what follows its last
  // ". ", or empty when there is none.
  virtual std::string ActionText(const char* message);

 protected:
  ~InstallerProgressSink() = default;
};

// The handler's memory across messages. One instance serves the whole run
// (InstallerHandlerState): a reset's direction and total apply to every
// later message until the next reset.
class InstallerProgress {
 public:
  // Acts on one message and returns the answer for the installer. `text`
  // may be null (answered with 0); otherwise it is only read, never past
  // its terminating zero.
  int Handle(std::uint32_t type, const char* text, bool stopRequested,
             InstallerProgressSink& sink);

  // Field parsers. Each stores fields into the state as it reads them and
  // tells whether the text had the expected form. A text that ends inside
  // a label's ": " fails (a label with nothing after it carries no value).
  bool ParseProgress(const char* text);
  bool ParseCommonData(const char* text);

  int ProgressTotal() const { return progressTotal_; }
  bool Forward() const { return forward_; }
  bool ScriptInProgress() const { return scriptInProgress_; }
  bool StepOnActionData() const { return stepOnActionData_; }
  std::uint16_t Language() const { return language_; }
  int ProgressField(int n) const { return progress_[n - 1]; }
  int CommonField(int n) const { return common_[n - 1]; }

 private:
  void ActOnProgress(InstallerProgressSink& sink);
  void ActOnCommonData(InstallerProgressSink& sink);
  int ShowBox(std::uint32_t type, const char* text, const char* caption,
              InstallerProgressSink& sink) const;
  int Directed(int ticks) const;

  int progressTotal_ = 0;
  bool forward_ = true;
  bool scriptInProgress_ = false;
  bool stepOnActionData_ = false;
  std::uint16_t language_ = 0;
  int progress_[4] = {0, 0, 0, 0};
  int common_[2] = {0, 0};
};

// The process-wide state the installer callback works on.
InstallerProgress& InstallerHandlerState();

#endif
