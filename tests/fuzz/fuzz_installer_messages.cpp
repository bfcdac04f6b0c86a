// Installer messages come from outside: whatever the text (after a byte that
// picks kind and stop flag), the handler reads only up to its zero and
// answers a progress message by the stop flag alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "framework/installer_progress.h"
#include "../unit/recording_sink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // One state across inputs, as in a real run.
  static InstallerProgress state;
  const std::uint32_t type = static_cast<std::uint32_t>(data[0] & 0x0F) << 24;
  const bool stop = (data[0] & 0x10) != 0;
  std::unique_ptr<char[]> text(new char[size]);
  std::memcpy(text.get(), data + 1, size - 1);
  text[size - 1] = '\0';

  Sink sink;
  const int answer = state.Handle(type, text.get(), stop, sink);
  if (type == kInstallProgress &&
      answer != (stop ? kInstallerCancel : kInstallerOk))
    std::abort();
  if (answer < 0 || answer > 7) std::abort();  // no answer a message box could not give
  state.ParseProgress(text.get());
  state.ParseCommonData(text.get());
  return 0;
}
