// Installer messages come from outside: whatever the text (after a byte that
// picks kind and stop flag), the handler reads only up to its zero.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "framework/installer_progress.h"

namespace {

class NullSink : public InstallerProgressSink {
 public:
  void SetProgress(int, int) override {}
  void SetProgressStep(int) override {}
  void StepProgress() override {}
  void OffsetProgress(int) override {}
  void ExtendProgressRange(int) override {}
  void SetDetailText(const std::string& text) override {
    if (text.size() > limit) std::abort();  // a tail of the text, no more
  }
  void EnableCancelButton(bool) override {}
  int ShowMessageBox(const char*, const char*, std::uint32_t style,
                     std::uint16_t) override {
    if (style > 0x00FFFFFF) std::abort();
    return 1;
  }
  std::size_t limit = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // One state across inputs, as in a real run.
  static InstallerProgress state;
  const std::uint32_t type = static_cast<std::uint32_t>(data[0] & 0x0F) << 24;
  const bool stop = (data[0] & 0x10) != 0;
  std::unique_ptr<char[]> text(new char[size]);
  std::memcpy(text.get(), data + 1, size - 1);
  text[size - 1] = '\0';

  NullSink sink;
  sink.limit = std::strlen(text.get());
  const int answer = state.Handle(type, text.get(), stop, sink);
  if (type == kInstallProgress &&
      answer != (stop ? kInstallerCancel : kInstallerOk))
    std::abort();
  if (answer < 0 || answer > 2) std::abort();
  state.ParseProgress(text.get());
  state.ParseCommonData(text.get());
  return 0;
}
