// The framework's modal dialog: instantiates a dialog template, routes
// commands and messages to handlers, and exchanges strings with their
// controls.
//
// Every message of the running dialog goes through the virtual WindowProc;
// its default is the framework's processing: commands, timer, painting and
// the drag icon go to the handlers below, and whatever they leave to the
// system goes to the dialog manager (Default). An exception thrown by a
// handler never leaves the window procedure: it is reported in the
// framework's error box (a CUserException silently) and the dialog goes on.
#ifndef RAVEN_APPKIT_DIALOG_H
#define RAVEN_APPKIT_DIALOG_H

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class CDialog {
 public:
  explicit CDialog(unsigned templateId, HWND parent = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Runs the dialog until EndDialog; returns its result, or -1 when the
  // template could not be instantiated.
  INT_PTR DoModal();
  void EndDialog(int result);
  HWND GetSafeHwnd() const { return m_hWnd; }

  // FALSE copies every bound string into its control. Reading controls back
  // (TRUE) is not needed by this program and does nothing.
  void UpdateData(BOOL saveAndValidate = TRUE);

  // These do nothing (and return null or FALSE) before the window exists
  // or after it is gone.
  HWND GetDlgItem(int id) const;
  void ShowDlgItem(int id, int command) const;
  void EnableDlgItem(int id, bool enable) const;
  BOOL ShowWindow(int command) const;

  HWND m_hWnd = nullptr;

 protected:
  // Called while the dialog manager handles WM_INITDIALOG: the controls
  // exist. TRUE lets the dialog manager set the initial focus.
  virtual BOOL OnInitDialog();
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // Command routing. The default ends the dialog for IDOK and IDCANCEL
  // (which the dialog manager also sends for Enter, Escape and the close
  // box). Returns true when the command was handled.
  virtual bool OnCommand(int id, int notifyCode, HWND control);
  virtual void OnOK();
  virtual void OnCancel();
  // The dialog manager's processing still runs after OnTimer.
  virtual void OnTimer(UINT_PTR id);
  // Returns true when it painted; false leaves painting to the system.
  virtual bool OnPaint();
  // A null icon leaves the answer to the system.
  virtual HICON OnQueryDragIcon();

  // The dialog manager's own processing of a message.
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

  // Binds a string to a control for UpdateData; the string must outlive
  // the window.
  void BindText(int id, const std::string* text);

  unsigned templateId_;
  HWND parent_;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                     LPARAM lParam);
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam,
                                       LPARAM lParam);
  BOOL Attach(HWND hwnd);
  void Detach();
  LRESULT DispatchGuarded(UINT message, WPARAM wParam, LPARAM lParam);

  WNDPROC dialogManagerProc_ = nullptr;
  std::vector<std::pair<int, const std::string*>> textBindings_;
};

// How the window procedure reports an exception a handler let escape: the
// framework's error box with the exception's text, nothing for a
// CUserException, a generic text for anything outside the family.
void ReportHandlerException();

#endif
