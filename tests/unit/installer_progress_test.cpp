#include "framework/installer_progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Notes every call and keeps a bar that clamps like the real control.
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
  int upper = 100, step = 10, pos = 0;
};

// A copy in a buffer of exactly its size, so the address sanitizer catches
// any read past the terminating zero.
std::unique_ptr<char[]> Exact(const char* text) {
  std::unique_ptr<char[]> copy(new char[std::strlen(text) + 1]);
  std::strcpy(copy.get(), text);
  return copy;
}

class InstallerProgressTest : public ::testing::Test {
 protected:
  int Send(std::uint32_t type, const char* text, bool stop = false) {
    return state.Handle(type, Exact(text).get(), stop, sink);
  }
  int Progress(const char* text, bool stop = false) { return Send(kInstallProgress, text, stop); }
  InstallerProgress state;
  Sink sink;
};

TEST_F(InstallerProgressTest, ResetsStartEmptyOrFullByDirectionAndScript) {
  Progress("1: 0 2: 1000 3: 0 4: 1 ");
  EXPECT_EQ("set 0/1000", sink.Last());
  EXPECT_TRUE(state.ScriptInProgress());
  // The script flag of the previous reset decides: this one starts full.
  Progress("1: 0 2: 500 3: 0 4: 0 ");
  EXPECT_EQ(500, sink.pos);
  Progress("1: 0 2: 300 3: 0 4: 0 ");
  EXPECT_EQ("set 0/300", sink.Last());
  // Backward: full, and reports move back.
  Progress("1: 0 2: 200 3: 1 4: 0 ");
  EXPECT_EQ(200, sink.pos);
  EXPECT_FALSE(state.Forward());
  Progress("1: 2 2: 50 ");
  EXPECT_EQ("offset -50", sink.Last());
  EXPECT_EQ(150, sink.pos);
}

TEST_F(InstallerProgressTest, BeforeAResetOnlyAdditionsActThenActionDataStepsWhenAsked) {
  EXPECT_EQ(kInstallerOk, Progress("1: 2 2: 10 "));
  Send(kInstallActionStart, "Action 12:00:00: InstallFiles. Copying files");
  Send(kInstallActionData, "x");
  Progress("1: 3 2: 100 ");
  EXPECT_EQ(std::vector<std::string>{"extend 100"}, sink.calls);
  Progress("1: 0 2: 100 3: 0 4: 0 ");
  Progress("1: 1 2: 5 3: 1 ");
  EXPECT_EQ("step 5", sink.Last());
  for (int i = 0; i < 3; ++i) Send(kInstallActionData, "File: a.dll");
  EXPECT_EQ(15, sink.pos);
  Progress("1: 1 2: 5 3: 0 ");
  const size_t before = sink.calls.size();
  Send(kInstallActionData, "File: b.dll");
  EXPECT_EQ(before, sink.calls.size());
  Progress("1: 0 2: 100 3: 1 4: 0 ");
  Progress("1: 1 2: 5 3: 1 ");
  EXPECT_EQ("step -5", sink.Last());  // backward
}

TEST_F(InstallerProgressTest, ActionTextStopCommonDataAndBoxes) {
  Progress("1: 0 2: 100 3: 0 4: 0 ");
  for (auto c : {std::make_pair("Action 1: A. B. Last", "Last"), {"Action 1: Cost", ""}}) {
    Send(kInstallActionStart, c.first);  // the text after the last full stop
    EXPECT_EQ(std::string("detail [") + c.second + "]", sink.Last());
  }
  // A stop is answered whatever the text; other kinds never pass it on.
  for (const char* text : {"1: 0 2: 100 3: 0 4: 0 ", "garbage", ""})
    EXPECT_EQ(kInstallerCancel, Progress(text, true)) << text;
  EXPECT_EQ(kInstallerOk, Progress("garbage"));
  EXPECT_EQ(kInstallerOk, Send(kInstallActionData, "x", true));
  for (std::uint32_t kind = 0; kind <= 0x10; ++kind)
    EXPECT_EQ(0, state.Handle(kind << 24, nullptr, true, sink)) << kind;

  Send(kInstallCommonData, "1: 0 2: 1036 3: 0 ");
  EXPECT_EQ(1036, state.Language());
  EXPECT_EQ(4, Send(kInstallError | 0x35, "Disk full"));
  EXPECT_EQ("Error [Disk full] 53 1036", sink.Last());
  EXPECT_EQ(4, Send(kInstallFatalExit | 0x10, "Bad"));
  EXPECT_EQ("Fatal Error [Bad] 16 1036", sink.Last());
  Send(kInstallWarning | 0x30, "Careful");
  EXPECT_EQ("Warning [Careful] 48 1036", sink.Last());
  Send(kInstallCommonData, "1: 2 2: 0 ");
  EXPECT_EQ("cancel off", sink.Last());
  Send(kInstallCommonData, "1: 2 2: 1 ");
  EXPECT_EQ("cancel on", sink.Last());
  // The caption message changes nothing; the language keeps its low 16 bits.
  const size_t before = sink.calls.size();
  EXPECT_EQ(kInstallerOk, Send(kInstallCommonData, "1: 1 2: Ravenstock "));
  Send(kInstallCommonData, "1: 0 2: 66572 ");
  EXPECT_EQ(before, sink.calls.size());
  EXPECT_EQ(1036, state.Language());
}

TEST(InstallerFieldParsing, FieldsPersistEndEarlyAndSaturate) {
  InstallerProgress state;
  ASSERT_TRUE(state.ParseProgress("1: 0 2: 100 3: 1 4: 1 "));
  // A report ends after field 2, action info after field 3.
  ASSERT_TRUE(state.ParseProgress("1: 2 2: 7 3: 9 4: 9 "));
  EXPECT_EQ(7, state.ProgressField(2));
  EXPECT_EQ(1, state.ProgressField(3));
  ASSERT_TRUE(state.ParseProgress("1: 1 2: 3 3: 1 4: 0 "));
  EXPECT_EQ(1, state.ProgressField(4));
  // A value stops at its first non-digit; field 1 is one digit.
  ASSERT_TRUE(state.ParseProgress("1: 0 2: 12x4 3: -3 4: +1 "));
  EXPECT_EQ(12, state.ProgressField(2));
  EXPECT_EQ(-3, state.ProgressField(3));
  EXPECT_FALSE(state.ParseProgress("1: x2 2: 5 "));
  ASSERT_TRUE(state.ParseProgress("1: 2 2: 99999999999999999999 "));
  EXPECT_EQ(2147483647, state.ProgressField(2));
  // Running backward, the most negative report still moves safely.
  Sink sink;
  state.Handle(kInstallProgress, "1: 0 2: 10 3: 1 4: 0 ", false, sink);
  state.Handle(kInstallProgress, "1: 2 2: -2147483648 ", false, sink);
  EXPECT_EQ("offset 2147483647", sink.Last());
}

}  // namespace
