// The framework's modal dialog: instantiates a dialog template, routes
// commands and messages to handlers, and exchanges two strings with their
// controls. (Skeleton: the wizard work completes it.)
#ifndef RAVEN_APPKIT_DIALOG_H
#define RAVEN_APPKIT_DIALOG_H

#include <windows.h>

class CDialog {
 public:
  explicit CDialog(unsigned templateId, HWND parent = nullptr);
  virtual ~CDialog();
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  INT_PTR DoModal();
  void EndDialog(int result);
  HWND GetSafeHwnd() const { return m_hWnd; }

  HWND m_hWnd = nullptr;

 protected:
  virtual BOOL OnInitDialog();
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  unsigned templateId_;
  HWND parent_;
};

#endif
