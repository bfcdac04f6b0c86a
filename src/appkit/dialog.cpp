#include "appkit/dialog.h"

#include "appkit/app.h"
#include "appkit/exceptions.h"

namespace {

const char kGenericErrorText[] = "An unexpected error occurred.";

}  // namespace

CDialog::CDialog(unsigned templateId, HWND parent)
    : templateId_(templateId), parent_(parent) {}

CDialog::~CDialog() {
  // A window that outlived its object must stop reaching it.
  if (m_hWnd != nullptr) Detach();
}

INT_PTR CDialog::DoModal() {
  return DialogBoxParamA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(templateId_),
                         parent_, DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int result) {
  if (m_hWnd != nullptr) ::EndDialog(m_hWnd, result);
}

void CDialog::UpdateData(BOOL saveAndValidate) {
  if (saveAndValidate || m_hWnd == nullptr) return;
  for (const auto& binding : textBindings_)
    ::SetDlgItemTextA(m_hWnd, binding.first, binding.second->c_str());
}

HWND CDialog::GetDlgItem(int id) const {
  return m_hWnd != nullptr ? ::GetDlgItem(m_hWnd, id) : nullptr;
}

void CDialog::ShowDlgItem(int id, int command) const {
  HWND control = GetDlgItem(id);
  if (control != nullptr) ::ShowWindow(control, command);
}

void CDialog::EnableDlgItem(int id, bool enable) const {
  HWND control = GetDlgItem(id);
  if (control != nullptr) ::EnableWindow(control, enable ? TRUE : FALSE);
}

BOOL CDialog::ShowWindow(int command) const {
  return m_hWnd != nullptr ? ::ShowWindow(m_hWnd, command) : FALSE;
}

BOOL CDialog::OnInitDialog() { return TRUE; }

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam), HIWORD(wParam),
                    reinterpret_cast<HWND>(lParam)))
        return 0;
      break;
    case WM_TIMER:
      OnTimer(wParam);
      break;
    case WM_PAINT:
      if (OnPaint()) return 0;
      break;
    case WM_QUERYDRAGICON: {
      HICON icon = OnQueryDragIcon();
      if (icon != nullptr) return reinterpret_cast<LRESULT>(icon);
      break;
    }
    default:
      break;
  }
  return Default(message, wParam, lParam);
}

bool CDialog::OnCommand(int id, int notifyCode, HWND) {
  if (notifyCode != BN_CLICKED) return false;
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
void CDialog::OnTimer(UINT_PTR) {}
bool CDialog::OnPaint() { return false; }
HICON CDialog::OnQueryDragIcon() { return nullptr; }

LRESULT CDialog::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_hWnd == nullptr || dialogManagerProc_ == nullptr) return 0;
  return CallWindowProcA(dialogManagerProc_, m_hWnd, message, wParam, lParam);
}

void CDialog::BindText(int id, const std::string* text) {
  textBindings_.emplace_back(id, text);
}

// The dialog manager calls this procedure only for what it does not handle
// itself. It serves WM_INITDIALOG, where the window is taken over: from
// then on every message passes through SubclassProc, which gives the
// derived class real message results (a dialog procedure can only answer
// TRUE or FALSE) and lets Default reach the dialog manager, which comes
// back here and is told FALSE.
INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM,
                                     LPARAM lParam) {
  if (message != WM_INITDIALOG) return FALSE;
  CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
  return dialog != nullptr ? dialog->Attach(hwnd) : TRUE;
}

BOOL CDialog::Attach(HWND hwnd) {
  m_hWnd = hwnd;
  SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  dialogManagerProc_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SubclassProc)));
  try {
    return OnInitDialog();
  } catch (...) {
    ReportHandlerException();
    return TRUE;
  }
}

void CDialog::Detach() {
  if (dialogManagerProc_ != nullptr)
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(dialogManagerProc_));
  SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, 0);
  dialogManagerProc_ = nullptr;
  m_hWnd = nullptr;
}

LRESULT CALLBACK CDialog::SubclassProc(HWND hwnd, UINT message, WPARAM wParam,
                                       LPARAM lParam) {
  CDialog* dialog =
      reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (dialog == nullptr) return DefDlgProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    LRESULT result = dialog->Default(message, wParam, lParam);
    dialog->Detach();
    return result;
  }
  return dialog->DispatchGuarded(message, wParam, lParam);
}

// 32-bit MinGW cannot unwind through the system's frames: nothing may
// leave this function by an exception.
LRESULT CDialog::DispatchGuarded(UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return WindowProc(message, wParam, lParam);
  } catch (...) {
    // A paint that keeps failing would be asked for again at once: mark the
    // window painted so one error box is shown, not an endless row.
    if (message == WM_PAINT && m_hWnd != nullptr)
      ValidateRect(m_hWnd, nullptr);
    ReportHandlerException();
    return 0;
  }
}

void ReportHandlerException() {
  try {
    try {
      throw;
    } catch (const CUserException&) {
      // The thrower has told the user already.
    } catch (const CException& e) {
      std::string text = e.ErrorText();
      AfxMessageBox(text.empty() ? std::string(kGenericErrorText) : text,
                    MB_OK | MB_ICONSTOP);
    } catch (...) {
      AfxMessageBox(std::string(kGenericErrorText), MB_OK | MB_ICONSTOP);
    }
  } catch (...) {
    // Even the report failed (no memory for its text): carry on silently.
  }
}
