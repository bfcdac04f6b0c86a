// The wizard object: run set-up and tear-down, the step machine and the
// one window of the program. Start-up constructs it, runs it modally (or,
// in update mode, only calls RunInstallation) and destroys it.
#ifndef RAVEN_WIZARD_SETUP_WIZARD_DLG_H
#define RAVEN_WIZARD_SETUP_WIZARD_DLG_H

#include <windows.h>

#include <string>

#include "appkit/dialog.h"
#include "appkit/handle.h"
#include "worker/params.h"
#include "worker/wizard_owner.h"

class CSessionLog;
class ResourceManager;

class CSetupWizardDlg : public CDialog, public WizardOwner {
 public:
  // The wizard steps; numbers are logged and compared as they stand, and 7
  // and 8 are never used.
  enum Step {
    kWelcome = 0,
    kFrameworkRequired = 1,
    kLicenceAgreement = 2,
    kDownloadingFramework = 3,
    kInstallingFramework = 4,
    kPreparingSetup = 5,
    kRunningSetup = 6,
    kDownloadFailed = 9,
    kFrameworkInstallFailed = 10,
    kManualFrameworkInstall = 11,
  };
  static const UINT_PTR kStepTimer = 1;
  // The manual-installation page: the time-out of its opening, and the
  // message its thread posts (wParam the request, lParam the outcome).
  static const UINT_PTR kManualPageTimer = 2;
  static const UINT kManualPageDone = WM_APP + 1;

  // Opens the session log, makes the work folder and unpacks the payload;
  // throws what the payload extraction throws.
  explicit CSetupWizardDlg(HWND parent = nullptr);
  ~CSetupWizardDlg() override;
  CSetupWizardDlg(const CSetupWizardDlg&) = delete;
  CSetupWizardDlg& operator=(const CSetupWizardDlg&) = delete;

  // Runs the setup program on the calling thread without a window.
  void RunInstallation();
  // The whole course without a window: the framework when it is missing,
  // then the setup program, all on the calling thread. Returns the run's
  // exit code.
  unsigned long RunQuietly();
  // The run's exit code once the dialog ended with dialogResult, or, run
  // without a window (windowless), once RunInstallation returned.
  unsigned long ExitCode(INT_PTR dialogResult, bool windowless) const;

  // The step machine.
  void NextStep();
  void UpdateControls();
  void OnFrameworkInstallDone();
  void OnCancelClicked();

  // Worker starts: each fills its block and starts one thread.
  void StartFrameworkDownload();
  void StartFrameworkInstall();
  void StartInstallation();

  void ResetDownloadParams();
  void ResetProcessParams();

  // Window side, on the window's thread.
  void OnDownloadProgress(unsigned long received, unsigned long total);
  // Returns at once; the page opens on a thread of its own, and where it
  // does not within a few seconds, step 11 shows its address.
  void OpenManualInstallPage();

  // WizardOwner: called on worker threads.
  CSessionLog* GetSessionLog() override;
  void SetStatusText(const std::string& text) override;
  void SetDetailText(const std::string& text) override;
  void ShowProgressBar(bool show) override;
  void EnableCancelButton(bool enable) override;
  void SetProgress(int position, int maximum) override;
  void SetProgressStep(int increment) override;
  void StepProgress() override;
  void OffsetProgress(int delta) override;
  void ExtendProgressRange(int extra) override;
  void UpdateInstallPercent() override;

 protected:
  BOOL OnInitDialog() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  void OnTimer(UINT_PTR id) override;
  bool OnPaint() override;
  HICON OnQueryDragIcon() override;

 private:
  void BindControls();
  void FitPictureToScreen();
  void ApplyStepLayout(bool* next, bool* progress, bool* licence, bool* error);
  void ShowLicenceGroup(bool show);
  void RunInstallationFromStep11();
  void FillDownloadBlock(HWND window, WizardOwner* owner);
  void FillInstallBlock(HWND window, WizardOwner* owner);
  void FillLaunchBlock(HWND window);
  void NoteQuietStep(int reached);
  bool StartWorkerThread(LPTHREAD_START_ROUTINE procedure, void* block);
  void RefreshControls();
  void OnManualPageDone(UINT request, int outcome);
  void OnManualPageTimeout();
  void ShowManualAddress(const std::string& why);
  // True once for the end message (or the cancellation) of the worker that
  // runs; the worker started last is the only one that may end a step.
  bool TakeWorkerEnd(UINT message);

  HICON icon = nullptr;
  int step = kWelcome;
  HWND progressBar = nullptr;
  std::string statusText;
  std::string detailText;
  HWND titleLabel = nullptr;
  HFONT titleFont = nullptr;
  HBITMAP fittedPicture = nullptr;  // the picture at another DPI than 96
  HWND nextButton = nullptr;
  HWND cancelButton = nullptr;
  std::string workFolder;
  HWND errorLabel = nullptr;
  HWND licenceEdit = nullptr;
  HWND acceptRadio = nullptr;
  HWND declineRadio = nullptr;
  HWND licencePrompt = nullptr;
  ResourceManager* resources = nullptr;
  CSessionLog* log = nullptr;
  DownloadParams downloadParams;
  ProcessParams processParams;

  // Only a folder this run made may be deleted at the end: the path is
  // returned also when making it failed, and may then name someone else's.
  bool workFolderCreated_ = false;
  // The end message the running worker sends, 0 while none runs. Any
  // program on the desktop can post the same numbers.
  UINT awaitedEnd_ = 0;
  // What the exit code is made of besides the setup program's own.
  bool userCancelled_ = false;
  bool restartRequired_ = false;
  // Held open until just before the deletion: nobody can swap the folder.
  ScopedKernelHandle workFolderHold_;
  // The latest request to open the manual page; whether a thread still
  // waits for the shell (a hung one: no second thread is started).
  UINT manualPageRequest_ = 0;
  bool manualPageThreadBusy_ = false;

  // The framework's download source, loaded by the constructor.
  static std::string frameworkHost_;
  static std::string frameworkObjectPath_;
};

#endif
