// Messages the worker threads send or post to the wizard window.
#ifndef RAVEN_WORKER_MESSAGES_H
#define RAVEN_WORKER_MESSAGES_H

enum WorkerMessage : unsigned {
  WM_SETUP_DONE = 0x400 + 100,
  WM_DOWNLOAD_DONE = 0x400 + 101,
  WM_DOWNLOAD_PROGRESS = 0x400 + 102,
  WM_WORKER_CANCELLED = 0x400 + 103,
  WM_HIDE_WIZARD = 0x400 + 104,
  WM_REFRESH_CONTROLS = 0x400 + 105,
  WM_FRAMEWORK_INSTALL_DONE = 0x400 + 106,
};

#endif
