#include "support/worker_recorder.h"

#include "wizard/params.h"

namespace e2e {

bool RecorderOwner::Called(const std::string& prefix) const {
  for (const std::string& c : calls)
    if (c.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

MessageRecorder::MessageRecorder(bool processBlocks) : processBlocks_(processBlocks) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "RavenWorkerRecorder";
  RegisterClassA(&wc);  // fails harmlessly when already registered
  window_ = CreateWindowA(wc.lpszClassName, "recorder", WS_OVERLAPPED, 0, 0, 10, 10,
                          nullptr, nullptr, wc.hInstance, nullptr);
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

MessageRecorder::~MessageRecorder() { DestroyWindow(window_); }

int MessageRecorder::Count(UINT id) const { return static_cast<int>(Of(id).size()); }

std::vector<WorkerMessage> MessageRecorder::Of(UINT id) const {
  std::vector<WorkerMessage> out;
  for (const WorkerMessage& m : messages)
    if (m.id == id) out.push_back(m);
  return out;
}

LRESULT CALLBACK MessageRecorder::Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MessageRecorder*>(GetWindowLongPtrA(w, GWLP_USERDATA));
  const bool worker = msg >= WM_SETUP_DONE && msg <= WM_FRAMEWORK_INSTALL_DONE;
  if (self == nullptr || (!worker && msg != WM_TIMER)) return DefWindowProcA(w, msg, wp, lp);
  if (msg == WM_TIMER) KillTimer(w, wp);
  WorkerMessage m = {msg, wp, lp, 0, false};
  const bool endMessage = msg == WM_SETUP_DONE || msg == WM_WORKER_CANCELLED ||
                          msg == WM_FRAMEWORK_INSTALL_DONE;
  if (self->processBlocks_ && endMessage && lp != 0) {
    const ProcessParams* p = reinterpret_cast<const ProcessParams*>(lp);
    m.exitCode = p->exitCode;
    m.failed = p->failed;
  }
  self->messages.push_back(m);
  if (self->onMessage) self->onMessage(m);
  return 0;
}

bool RunWorkerThread(LPTHREAD_START_ROUTINE proc, void* param,
                     const std::function<void()>& during, DWORD timeoutMs,
                     DWORD* exitCode) {
  HANDLE thread = CreateThread(nullptr, 0, proc, param, 0, nullptr);
  if (thread == nullptr) return false;
  const DWORD start = GetTickCount();
  bool ended = false;
  while (!ended && GetTickCount() - start < timeoutMs) {
    ended = MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT) == WAIT_OBJECT_0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (!ended && during) during();
  }
  if (exitCode != nullptr) GetExitCodeThread(thread, exitCode);
  CloseHandle(thread);
  return ended;
}

}  // namespace e2e
