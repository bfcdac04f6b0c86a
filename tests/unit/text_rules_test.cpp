// Small platform-free rules: the switch, the working folder, percentages,
// log escaping, the pin check (downloads in pieces are hashed end to end).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <string>
#include <vector>

#include "app/bootstrap_command_line.h"
#include "framework/sha256.h"
#include "launcher/setup_command.h"
#include "log/log_format.h"
#include "wizard/progress_math.h"

namespace {

// The exe's own switch and relaunch marker; the plain cases run end to end.
TEST(StartupSwitch, OnlyTheWholeWordAfterOnePrefixInAnyAsciiCase) {
  for (const char* arg : {"/UpDaTe", "/updates", "/updat", "/", "//update", "/upd\xC1te"}) {
    CBootStrapCommandLineInfo info;
    ParseCommandLine({"file.txt", arg, "/impersonated"}, info);
    EXPECT_EQ(std::string(arg) == "/UpDaTe", info.update != 0) << arg;
  }
  EXPECT_EQ("a b/impersonated", RelaunchParameters("a b"));
  EXPECT_TRUE(IsRelaunchedCopy(RelaunchParameters("")));
  for (const char* tail : {"", "impersonated", "/impersonated x", "/IMPERSONATED"})
    EXPECT_FALSE(IsRelaunchedCopy(tail)) << tail;
}

TEST(CommandLines, WorkingFolderCutsAtTheLastRealBackslash) {
  // Lead bytes of the Japanese double-byte code page; second bytes include
  // 0x5C, the backslash.
  auto lead = [](unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); };
  const std::string dbcs("C:\\\x95\x5C", 5);
  const struct {
    std::string path, folder;
    bool (*lead)(unsigned char);
  } cases[] = {{"C:\\Temp\\Rav1a\\setup.exe", "C:\\Temp\\Rav1a", nullptr},
               {"C:\\Temp\\Rav1a\\bin/setup.exe", "C:\\Temp\\Rav1a", nullptr},
               {"C:\\Temp\\Rav1a\\", "C:\\Temp\\Rav1a", nullptr},
               {"setup.exe", "", nullptr}, {"\\setup.exe", "", nullptr},
               {dbcs + "\\setup.exe", dbcs, lead}, {dbcs, "C:", lead},
               {dbcs, std::string("C:\\\x95", 4), nullptr},
               {std::string("C:\\dir\\\x95", 8), "C:\\dir", lead}};
  for (const auto& c : cases) EXPECT_EQ(c.folder, WorkingFolderOf(c.path, c.lead)) << c.path;
}

TEST(Percentages, TruncateNeverDivideByZeroAndStayInRange) {
  const unsigned cases[][3] = {{1, 1000, 0},         {999, 1000, 99},  {2, 3, 66},
                               {65536, 0, 0},        {0x80000000u, 0xFFFFFFFFu, 50},
                               {3000000000u, 4000000000u, 75}, {1500, 1000, 150},
                               {0xFFFFFFFFu, 1, INT_MAX}};
  for (const auto& c : cases) EXPECT_EQ(static_cast<int>(c[2]), PercentOf(c[0], c[1])) << c[0];
  EXPECT_EQ(70, ExtendedUpperBound(100, -30));
  EXPECT_EQ(INT_MAX, ExtendedUpperBound(INT_MAX - 5, 100));
  EXPECT_EQ(INT_MIN, ExtendedUpperBound(INT_MIN + 5, -100));
}

TEST(LogFormat, EscapesAndFixedWidthStamps) {
  EXPECT_EQ("a&lt;b &amp;lt; c&gt;d \"q\" 'a'", EscapeText("a<b &lt; c>d \"q\" 'a'"));
  EXPECT_EQ("&quot;a&apos;b&lt;&amp;&gt;", EscapeAttribute("\"a'b<&>"));
  std::tm tm = {};
  tm.tm_year = 101;
  tm.tm_mday = 2;
  tm.tm_hour = 3;
  tm.tm_min = 4;
  tm.tm_sec = 5;
  EXPECT_EQ("01/02/2001", FormatLogDate(tm));
  EXPECT_EQ("03:04:05", FormatLogTime(tm));
}

const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(Sha256, OnlyAWellFormedEqualPinLetsAFileThrough) {
  std::string upper = kAbc, bad = kAbc;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  bad[10] = 'g';
  EXPECT_TRUE(DigestMatchesPin(kAbc, upper));
  for (const std::string& pin : {std::string(), std::string(kAbc).substr(0, 63),
                                 std::string(kAbc) + "0", std::string(64, 'a')})
    EXPECT_FALSE(DigestMatchesPin(kAbc, pin)) << pin;
  EXPECT_FALSE(DigestMatchesPin(bad, bad));
  EXPECT_FALSE(DigestMatchesPin("", ""));
}

}  // namespace
