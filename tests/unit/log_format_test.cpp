#include "log/log_format.h"

#include <gtest/gtest.h>

TEST(LogEscape, ContentEscapesAmpersandFirstAndLeavesQuotes) {
  EXPECT_EQ("a&lt;b &amp; c&gt;d", EscapeText("a<b & c>d"));
  // An entity already in the text keeps its meaning as literal text.
  EXPECT_EQ("&amp;lt;", EscapeText("&lt;"));
  EXPECT_EQ("say \"hi\" it's", EscapeText("say \"hi\" it's"));
  // Control characters and 8-bit bytes are the caller's business.
  EXPECT_EQ(std::string("\t\x01\xE9\r\n"), EscapeText("\t\x01\xE9\r\n"));
  EXPECT_EQ("", EscapeText(""));
}

TEST(LogEscape, AttributeAlsoEscapesBothQuotes) {
  EXPECT_EQ("&quot;a&apos;b&quot;", EscapeAttribute("\"a'b\""));
  EXPECT_EQ("&lt;&amp;quot;&gt;", EscapeAttribute("<&quot;>"));
}

// Whole records are checked as the log writes them to its file.
TEST(LogRecords, DateAndTimeArePaddedFixedFields) {
  std::tm tm = {};
  tm.tm_year = 2001 - 1900;
  tm.tm_mon = 0;
  tm.tm_mday = 2;
  tm.tm_hour = 3;
  tm.tm_min = 4;
  tm.tm_sec = 5;
  EXPECT_EQ("01/02/2001", FormatLogDate(tm));
  EXPECT_EQ("03:04:05", FormatLogTime(tm));
}
