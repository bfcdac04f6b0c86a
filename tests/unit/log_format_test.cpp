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

TEST(LogRecords, BeginAndEndStandAtTheMarginWithEscapedAttributes) {
  EXPECT_EQ(
      "<begin date=\"12/06/2026\" time=\"20:41:05\" application=\"R&amp;S\" "
      "session=\"Boot&quot;Strap\"/>\n",
      FormatBeginRecord("12/06/2026", "20:41:05", "R&S", "Boot\"Strap"));
  EXPECT_EQ(
      "<end date=\"\" time=\"\" application=\"Ravenstock\" session=\"BootStrap\"/>\n",
      FormatEndRecord("", "", "Ravenstock", "BootStrap"));
}

TEST(LogRecords, InfoIsIndentedAndEscapesSectionAndText) {
  EXPECT_EQ(
      "\t<info date=\"d\" time=\"t\" section=\"a&apos;b\">x &lt; \"y\"</info>\n",
      FormatInfoRecord("d", "t", "a'b", "x < \"y\""));
  EXPECT_EQ("\t<info date=\"d\" time=\"t\" section=\"BootStrap\"></info>\n",
            FormatInfoRecord("d", "t", "BootStrap", ""));
}

TEST(LogRecords, ErrorPartsKeepSystemTextsVerbatimAndStatusSigned) {
  EXPECT_EQ(
      "\t<error date=\"d\" time=\"t\" section=\"S\" message=\"&lt;m&gt; &quot;q&quot;\">\n",
      FormatErrorOpening("d", "t", "S", "<m> \"q\""));
  EXPECT_EQ("\t\t<exception status=\"5\" message=\"Access denied.\r\n\"/>\n",
            FormatStatusDetail(5, "Access denied.\r\n"));
  EXPECT_EQ("\t\t<exception status=\"-2147024891\" message=\"\"/>\n",
            FormatStatusDetail(0x80070005UL, ""));
  EXPECT_EQ("\t\t<exception status=\"-1\" message=\"\"/>\n",
            FormatStatusDetail(0xFFFFFFFFUL, ""));
  EXPECT_EQ("\t\t<exception message=\"a<b & \"c\"\"/>\n",
            FormatExceptionDetail("a<b & \"c\""));
  EXPECT_EQ("\t</error>\n", FormatErrorClosing());
}

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
