#include "framework/installer_progress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Records every call and keeps a bar that clamps like the real control, so
// tests can speak of where the bar stands and what percentage shows.
class RecordingSink : public InstallerProgressSink {
 public:
  void SetProgress(int position, int maximum) override {
    upper = maximum;
    position_ = Clamp(position);
    calls.push_back("SetProgress " + std::to_string(position) + " " +
                    std::to_string(maximum));
  }
  void SetProgressStep(int s) override {
    step = s;
    calls.push_back("SetProgressStep " + std::to_string(s));
  }
  void StepProgress() override {
    position_ = Clamp(1LL * position_ + step);
    calls.push_back("StepProgress");
  }
  void OffsetProgress(int delta) override {
    position_ = Clamp(1LL * position_ + delta);
    calls.push_back("OffsetProgress " + std::to_string(delta));
  }
  void ExtendProgressRange(int extra) override {
    upper += extra;
    calls.push_back("ExtendProgressRange " + std::to_string(extra));
  }
  void SetDetailText(const std::string& text) override {
    calls.push_back("SetDetailText [" + text + "]");
  }
  void EnableCancelButton(bool enable) override {
    calls.push_back(enable ? "EnableCancel 1" : "EnableCancel 0");
  }
  int ShowMessageBox(const char* text, const char* caption,
                     std::uint32_t style, std::uint16_t language) override {
    calls.push_back(std::string("Box ") + caption + " [" + text + "] " +
                    std::to_string(style) + " " + std::to_string(language));
    return boxResult;
  }

  int Position() const { return position_; }
  int Percent() const {
    return upper == 0 ? 0 : static_cast<int>(position_ * 100LL / upper);
  }

  std::vector<std::string> calls;
  int upper = 100;
  int step = 10;
  int boxResult = 1;

 private:
  int Clamp(long long p) const {
    return p < 0 ? 0 : (p > upper ? upper : static_cast<int>(p));
  }
  int position_ = 0;
};

// A copy of the text in a buffer of exactly its size, so that the address
// sanitizer catches any read past the terminating zero.
std::unique_ptr<char[]> Exact(const char* text) {
  const std::size_t n = std::strlen(text) + 1;
  std::unique_ptr<char[]> copy(new char[n]);
  std::memcpy(copy.get(), text, n);
  return copy;
}

class InstallerProgressTest : public ::testing::Test {
 protected:
  int Progress(const char* text, bool stop = false) {
    return state.Handle(kInstallProgress, Exact(text).get(), stop, sink);
  }
  int Common(const char* text) {
    return state.Handle(kInstallCommonData, Exact(text).get(), false, sink);
  }
  int Send(std::uint32_t type, const char* text) {
    return state.Handle(type, Exact(text).get(), false, sink);
  }

  InstallerProgress state;
  RecordingSink sink;
};

TEST_F(InstallerProgressTest, ResetAfterScriptCreationStartsFullThenNot) {
  Progress("1: 0 2: 1000 3: 0 4: 1 ");
  EXPECT_EQ(sink.Position(), 0);
  EXPECT_EQ(sink.upper, 1000);
  EXPECT_TRUE(state.ScriptInProgress());

  // The script flag of the previous reset decides: this one starts full.
  Progress("1: 0 2: 500 3: 0 4: 0 ");
  EXPECT_EQ(sink.Position(), 500);
  EXPECT_EQ(sink.Percent(), 100);

  Progress("1: 0 2: 300 3: 0 4: 0 ");
  EXPECT_EQ(sink.Position(), 0);
  EXPECT_EQ(sink.upper, 300);
}

TEST_F(InstallerProgressTest, BackwardResetStartsFullAndReportsMoveBack) {
  Progress("1: 0 2: 200 3: 1 4: 0 ");
  EXPECT_EQ(sink.Position(), 200);
  EXPECT_FALSE(state.Forward());
  Progress("1: 2 2: 50 ");
  EXPECT_EQ(sink.calls.back(), "OffsetProgress -50");
  EXPECT_EQ(sink.Position(), 150);
  EXPECT_EQ(sink.Percent(), 75);
}

TEST_F(InstallerProgressTest, ActionDataStepsOnlyWhileActionInfoAsksForIt) {
  Send(kInstallActionData, "File: a.dll");  // no reset yet: nothing
  Progress("1: 0 2: 100 3: 0 4: 0 ");
  Progress("1: 1 2: 5 3: 1 ");
  EXPECT_EQ(sink.calls.back(), "SetProgressStep 5");
  for (int i = 0; i < 3; ++i) Send(kInstallActionData, "File: a.dll");
  EXPECT_EQ(sink.Position(), 15);

  Progress("1: 1 2: 5 3: 0 ");
  const std::size_t before = sink.calls.size();
  Send(kInstallActionData, "File: b.dll");
  EXPECT_EQ(sink.calls.size(), before);
  EXPECT_EQ(sink.Position(), 15);

  // Backward: the step is negated.
  Progress("1: 0 2: 100 3: 1 4: 0 ");
  Progress("1: 1 2: 5 3: 1 ");
  EXPECT_EQ(sink.calls.back(), "SetProgressStep -5");
}

TEST_F(InstallerProgressTest, BeforeAnyResetOnlyAdditionsAct) {
  EXPECT_EQ(Progress("1: 2 2: 10 "), kInstallerOk);
  Send(kInstallActionStart, "Action 12:00:00: InstallFiles. Copying files");
  Send(kInstallActionData, "x");
  EXPECT_TRUE(sink.calls.empty());

  Progress("1: 3 2: 100 ");
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0], "ExtendProgressRange 100");
  EXPECT_EQ(sink.upper, 200);
}

TEST_F(InstallerProgressTest, ActionStartShowsTextAfterLastFullStop) {
  Progress("1: 0 2: 100 3: 0 4: 0 ");
  Send(kInstallActionStart, "Action 12:00:00: InstallFiles. Copying new files");
  EXPECT_EQ(sink.calls.back(), "SetDetailText [Copying new files]");
  Send(kInstallActionStart, "Action 1: A. B. Last part");
  EXPECT_EQ(sink.calls.back(), "SetDetailText [Last part]");
  Send(kInstallActionStart, "Action 12:00:00: CostInitialize");
  EXPECT_EQ(sink.calls.back(), "SetDetailText []");
  Send(kInstallActionStart, "ends with. ");
  EXPECT_EQ(sink.calls.back(), "SetDetailText []");
}

TEST_F(InstallerProgressTest, StopIsAnsweredEvenForUnreadableText) {
  EXPECT_EQ(Progress("1: 0 2: 100 3: 0 4: 0 ", true), kInstallerCancel);
  EXPECT_EQ(Progress("garbage", true), kInstallerCancel);
  EXPECT_EQ(Progress("", true), kInstallerCancel);
  EXPECT_EQ(Progress("garbage", false), kInstallerOk);
  // Other kinds never pass the stop on.
  EXPECT_EQ(state.Handle(kInstallActionData, "x", true, sink), kInstallerOk);
}

TEST_F(InstallerProgressTest, CommonDataSetsLanguageAndCancelButton) {
  Common("1: 0 2: 1036 3: 0 ");
  EXPECT_EQ(state.Language(), 1036);
  sink.boxResult = 4;  // IDRETRY: the box's result goes back unchanged
  EXPECT_EQ(Send(kInstallError | 0x35, "Disk full"), 4);
  EXPECT_EQ(sink.calls.back(), "Box Error [Disk full] 53 1036");
  EXPECT_EQ(Send(kInstallFatalExit | 0x10, "Bad"), 4);
  EXPECT_EQ(sink.calls.back(), "Box Fatal Error [Bad] 16 1036");
  Send(kInstallWarning | 0x30, "Careful");
  EXPECT_EQ(sink.calls.back(), "Box Warning [Careful] 48 1036");

  Common("1: 2 2: 0 ");
  EXPECT_EQ(sink.calls.back(), "EnableCancel 0");
  Common("1: 2 2: 1 ");
  EXPECT_EQ(sink.calls.back(), "EnableCancel 1");

  // The caption message changes nothing, not even the stored fields' use.
  const std::size_t before = sink.calls.size();
  EXPECT_EQ(Common("1: 1 2: Ravenstock "), kInstallerOk);
  EXPECT_EQ(sink.calls.size(), before);
  EXPECT_EQ(state.Language(), 1036);
  // The language keeps its low 16 bits.
  Common("1: 0 2: 66572 ");
  EXPECT_EQ(state.Language(), 1036);
}

TEST_F(InstallerProgressTest, NullTextIsNotHandledForAnyKind) {
  for (std::uint32_t kind = 0; kind <= 0x10; ++kind) {
    EXPECT_EQ(state.Handle(kind << 24, nullptr, true, sink), 0) << kind;
  }
  EXPECT_TRUE(sink.calls.empty());
}

struct ParseCase {
  const char* text;
  bool progressParses;
  bool commonParses;
};

TEST(InstallerFieldParsing, ShortAndMalformedTextsStayInBounds) {
  const ParseCase cases[] = {
      {"", false, false},
      {"1", false, false},
      {"1:", false, false},
      {"1: ", false, false},    // no value after the label
      {"1: x", false, true},    // common data takes any character
      {"1: 0", true, true},
      {"1: 2 2", false, false},
      {"1: 2 2:", false, false},
      {"1: 2 2: ", true, true},  // an empty value reads as 0
      {"2: ", true, true},
      {"9: 1", false, false},
      {"1: 1 2: 5 3", false, false},
      {"1: 0 2: 10 3: 1 4: 1", true, true},
      {"1: 0 2: 10 3: 1 4", false, true},  // common data ends at field 2
      {"1: 0  ", false, false},  // a second blank reads as a label
  };
  for (const ParseCase& c : cases) {
    InstallerProgress state;
    EXPECT_EQ(state.ParseProgress(Exact(c.text).get()), c.progressParses)
        << "progress [" << c.text << "]";
    EXPECT_EQ(state.ParseCommonData(Exact(c.text).get()), c.commonParses)
        << "common [" << c.text << "]";
  }
}

TEST(InstallerFieldParsing, FieldsPersistAndEndEarlyByKind) {
  InstallerProgress state;
  ASSERT_TRUE(state.ParseProgress("1: 0 2: 100 3: 1 4: 1 "));
  // A report ends after field 2: fields 3 and 4 keep the reset's values.
  ASSERT_TRUE(state.ParseProgress("1: 2 2: 7 3: 9 4: 9 "));
  EXPECT_EQ(state.ProgressField(2), 7);
  EXPECT_EQ(state.ProgressField(3), 1);
  EXPECT_EQ(state.ProgressField(4), 1);
  // Action info ends after field 3.
  ASSERT_TRUE(state.ParseProgress("1: 1 2: 3 3: 1 4: 0 "));
  EXPECT_EQ(state.ProgressField(3), 1);
  EXPECT_EQ(state.ProgressField(4), 1);
  // A value stops at its first non-digit; the token still ends at a space.
  ASSERT_TRUE(state.ParseProgress("1: 0 2: 12x4 3: -3 4: +1 "));
  EXPECT_EQ(state.ProgressField(2), 12);
  EXPECT_EQ(state.ProgressField(3), -3);
  EXPECT_EQ(state.ProgressField(4), 1);
  // Field 1 is one digit: "12" is not a progress kind.
  EXPECT_FALSE(state.ParseProgress("1: x2 2: 5 "));
}

TEST(InstallerFieldParsing, HugeValuesSaturate) {
  InstallerProgress state;
  ASSERT_TRUE(state.ParseProgress("1: 2 2: 99999999999999999999 "));
  EXPECT_EQ(state.ProgressField(2), 2147483647);
  ASSERT_TRUE(state.ParseProgress("1: 2 2: -99999999999999999999 "));
  EXPECT_EQ(state.ProgressField(2), -2147483647 - 1);

  // Running backward, the most negative report still moves forward safely.
  RecordingSink sink;
  state.Handle(kInstallProgress, "1: 0 2: 10 3: 1 4: 0 ", false, sink);
  state.Handle(kInstallProgress, "1: 2 2: -2147483648 ", false, sink);
  EXPECT_EQ(sink.calls.back(), "OffsetProgress 2147483647");
}

}  // namespace
