// An installer progress sink for tests: notes every call and keeps a bar
// that clamps like the real control.
#ifndef RAVEN_TESTS_UNIT_RECORDING_SINK_H
#define RAVEN_TESTS_UNIT_RECORDING_SINK_H

#include <string>
#include <vector>

#include "framework/installer_progress.h"

class Sink : public InstallerProgressSink {
 public:
  void SetProgress(int position, int maximum) override {
    Note("set " + std::to_string(position) + "/" + std::to_string(upper = maximum), position);
  }
  void SetProgressStep(int s) override { Note("step " + std::to_string(step = s), pos); }
  void StepProgress() override { Note("stepit", 1LL * pos + step); }
  void OffsetProgress(int d) override { Note("offset " + std::to_string(d), 1LL * pos + d); }
  void ExtendProgressRange(int n) override {
    upper += n;
    Note("extend " + std::to_string(n), pos);
  }
  void SetDetailText(const std::string& t) override { Note("detail [" + t + "]", pos); }
  void EnableCancelButton(bool on) override { Note(on ? "cancel on" : "cancel off", pos); }
  int ShowMessageBox(const char* text, const char* caption, std::uint32_t style,
                     std::uint16_t lang) override {  // IDRETRY goes back unchanged
    return Note(std::string(caption) + " [" + text + "] " + std::to_string(style) + " " +
                std::to_string(lang), pos), 4;
  }
  void Note(const std::string& call, long long p) {
    calls.push_back(call);
    pos = static_cast<int>(p < 0 ? 0 : p > upper ? upper : p);
  }
  std::string Last() const { return calls.empty() ? "" : calls.back(); }
  std::vector<std::string> calls;
  long long upper = 100;  // wider than the bar's int: extensions may add up past it
  int step = 10, pos = 0;
};

#endif
