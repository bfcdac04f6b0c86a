#include "app/bootstrap_command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int UpdateFlagFor(const std::vector<std::string>& args) {
  CBootStrapCommandLineInfo info;
  ParseCommandLine(args, info);
  return info.update;
}

}  // namespace

TEST(StartupSwitch, UpdateNeedsAPrefixAndTheWholeWordInAnyCase) {
  EXPECT_EQ(0, UpdateFlagFor({}));
  EXPECT_EQ(1, UpdateFlagFor({"/update"}));
  EXPECT_EQ(1, UpdateFlagFor({"-UPDATE"}));
  EXPECT_EQ(1, UpdateFlagFor({"/UpDaTe"}));
  EXPECT_EQ(0, UpdateFlagFor({"update"}));
  EXPECT_EQ(0, UpdateFlagFor({"/updates"}));
  EXPECT_EQ(0, UpdateFlagFor({"/updat"}));
  EXPECT_EQ(0, UpdateFlagFor({"/"}));
  EXPECT_EQ(0, UpdateFlagFor({"//update"}));
  // Bytes above 0x7F never fold onto an ASCII letter.
  EXPECT_EQ(0, UpdateFlagFor({"/upd\xC1te"}));
}

TEST(StartupSwitch, OtherArgumentsAroundTheSwitchAreIgnored) {
  EXPECT_EQ(1, UpdateFlagFor({"file.txt", "/x", "-update", "/impersonated"}));
  EXPECT_EQ(0, UpdateFlagFor({"a", "b/impersonated"}));
  EXPECT_EQ(0, UpdateFlagFor({"/impersonated"}));
}

TEST(StartupRelaunch, MarkerFollowsTheTailWithoutABlank) {
  EXPECT_EQ("/impersonated", RelaunchParameters(""));
  EXPECT_EQ("a b/impersonated", RelaunchParameters("a b"));
  EXPECT_EQ("\"c d\" /update/impersonated", RelaunchParameters("\"c d\" /update"));
}

TEST(StartupRelaunch, RelaunchedCopyIsRecognisedByItsTailsEnd) {
  EXPECT_TRUE(IsRelaunchedCopy("/impersonated"));
  EXPECT_TRUE(IsRelaunchedCopy(RelaunchParameters("a b")));
  EXPECT_FALSE(IsRelaunchedCopy(""));
  EXPECT_FALSE(IsRelaunchedCopy("impersonated"));
  EXPECT_FALSE(IsRelaunchedCopy("/impersonated x"));
  EXPECT_FALSE(IsRelaunchedCopy("/IMPERSONATED"));
}
