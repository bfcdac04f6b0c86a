// The session log against the real file system of the Windows folder.
#include "log/session_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>
#include <string>
#include <vector>

#include "appkit/exceptions.h"
#include "support/e2e.h"

namespace {

// A name of its own, so these tests never meet the product's log.
const char kApp[] = "RavenLogTest";

class SessionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = CSessionLog(kApp, "BootStrap").FilePath();
    ASSERT_FALSE(path_.empty());
    DeleteFileA(path_.c_str());
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }
  std::string Read() const { return e2e::ReadFileText(path_); }

  std::string path_;
};

// Every LF stored by the log is preceded by CR.
bool AllLineFeedsFollowCr(const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
  return true;
}

// The record with its date and time replaced by D and T.
std::string WithoutStamp(const std::string& text) {
  static const std::regex stamp(
      "date=\"\\d\\d/\\d\\d/\\d{4}\" time=\"\\d\\d:\\d\\d:\\d\\d\"");
  return std::regex_replace(text, stamp, "date=\"D\" time=\"T\"");
}

class TextException : public CException {
 public:
  explicit TextException(std::string text) : text_(std::move(text)) {}
  std::string ErrorText() const override { return text_; }

 private:
  std::string text_;
};

class BrokenException : public CException {
 public:
  std::string ErrorText() const override { throw std::bad_alloc(); }
};

}  // namespace

TEST_F(SessionLogTest, RecordsAreAppendedWithCrLfAndEarlierContentKept) {
  ASSERT_TRUE(e2e::WriteFileText(path_, "earlier run\r\n"));
  CSessionLog log(kApp, "Boot\"Strap");
  log.WriteBegin();
  log.WriteInfo("BootStrap", "two\nlines & <tags>");
  log.WriteEnd();
  std::string text = Read();
  EXPECT_TRUE(AllLineFeedsFollowCr(text)) << text;
  EXPECT_EQ(
      "earlier run\r\n"
      "<begin date=\"D\" time=\"T\" application=\"RavenLogTest\" session=\"Boot&quot;Strap\"/>\r\n"
      "\t<info date=\"D\" time=\"T\" section=\"BootStrap\">two\r\nlines &amp; &lt;tags&gt;</info>\r\n"
      "<end date=\"D\" time=\"T\" application=\"RavenLogTest\" session=\"Boot&quot;Strap\"/>\r\n",
      WithoutStamp(text));
}

TEST_F(SessionLogTest, StatusErrorsKeepTheSystemTextAndASignedCode) {
  CSessionLog log(kApp, "BootStrap");
  log.WriteError("BootStrap", "Open \"x\" <failed>", 0x80070005UL);
  log.WriteError("BootStrap", "No text", 0x3FFFFFFFUL);
  std::string text = WithoutStamp(Read());
  EXPECT_TRUE(AllLineFeedsFollowCr(text)) << text;
  // The system's text keeps its own line end (stored as CR CR LF) inside
  // the attribute; its wording differs between systems.
  std::regex denied(
      "\t<error date=\"D\" time=\"T\" section=\"BootStrap\" "
      "message=\"Open &quot;x&quot; &lt;failed&gt;\">\r\n"
      "\t\t<exception status=\"-2147024891\" message=\"[^\"\r\n]+\r\r\n\"/>\r\n"
      "\t</error>\r\n");
  std::regex unknown(
      "\t<error date=\"D\" time=\"T\" section=\"BootStrap\" message=\"No text\">\r\n"
      "\t\t<exception status=\"1073741823\" message=\"\"/>\r\n"
      "\t</error>\r\n");
  size_t split = text.find("\t<error", 1);
  ASSERT_NE(std::string::npos, split) << text;
  EXPECT_TRUE(std::regex_match(text.substr(0, split), denied)) << text;
  EXPECT_TRUE(std::regex_match(text.substr(split), unknown)) << text;
}

TEST_F(SessionLogTest, ExceptionErrorsAreVerbatimBoundedAndAlwaysClosed) {
  CSessionLog log(kApp, "BootStrap");
  log.WriteError("BootStrap", "m", TextException("a<b & \"c\""));
  log.WriteError("BootStrap", "long", TextException(std::string(5000, 'x')));
  // A text that cannot be produced costs the detail line, not the record.
  EXPECT_NO_THROW(log.WriteError("BootStrap", "broken", BrokenException()));
  log.WriteInfo("BootStrap", "after");
  EXPECT_EQ(
      "\t<error date=\"D\" time=\"T\" section=\"BootStrap\" message=\"m\">\r\n"
      "\t\t<exception message=\"a<b & \"c\"\"/>\r\n"
      "\t</error>\r\n"
      "\t<error date=\"D\" time=\"T\" section=\"BootStrap\" message=\"long\">\r\n"
      "\t\t<exception message=\"" + std::string(2047, 'x') + "\"/>\r\n"
      "\t</error>\r\n"
      "\t<error date=\"D\" time=\"T\" section=\"BootStrap\" message=\"broken\">\r\n"
      "\t</error>\r\n"
      "\t<info date=\"D\" time=\"T\" section=\"BootStrap\">after</info>\r\n",
      WithoutStamp(Read()));
}

TEST_F(SessionLogTest, UnopenableFileDropsRecordsSilently) {
  ASSERT_TRUE(e2e::WriteFileText(path_, "kept\r\n"));
  CSessionLog log(kApp, "BootStrap");
  {
    // Another opener without sharing, as a second bootstrapper would be.
    HANDLE holder = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_NO_THROW(log.WriteBegin());
    EXPECT_NO_THROW(log.WriteInfo("BootStrap", "dropped"));
    EXPECT_NO_THROW(log.WriteError("BootStrap", "dropped", 5));
    EXPECT_NO_THROW(log.WriteError("BootStrap", "dropped", TextException("x")));
    EXPECT_NO_THROW(log.WriteEnd());
    CloseHandle(holder);
  }
  EXPECT_EQ("kept\r\n", Read());
  // Nothing is remembered: the next record tries again.
  log.WriteInfo("BootStrap", "back");
  EXPECT_NE(std::string::npos, Read().find("kept\r\n\t<info "));
  EXPECT_NE(std::string::npos, Read().find(">back</info>\r\n"));
}

TEST_F(SessionLogTest, PathLongerThanMaxPathGetsNoRecord) {
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, MAX_PATH);
  // A file name that is valid on its own (under 255 characters) but does
  // not fit MAX_PATH once joined to the folder.
  size_t room = MAX_PATH - std::string(windows).size() - 1 - 14;
  std::string app(room + 5, 'L');
  CSessionLog log(app, "BootStrap");
  EXPECT_EQ("", log.FilePath());
  EXPECT_NO_THROW(log.WriteBegin());
  EXPECT_NO_THROW(log.WriteError("BootStrap", "m", 2));
  std::string joined = std::string(windows) + "\\" + app + "_Setup.log.tmp";
  EXPECT_FALSE(e2e::PathExists(joined));
  DeleteFileA(joined.c_str());
}

namespace {

struct WriterArgs {
  CSessionLog* log;
  int thread;
  int records;
};

DWORD WINAPI Writer(void* p) {
  WriterArgs* a = static_cast<WriterArgs*>(p);
  try {
    for (int i = 0; i < a->records; ++i) {
      std::string id = std::to_string(a->thread) + ":" + std::to_string(i);
      if (i % 2 == 0)
        a->log->WriteInfo("BootStrap", id);
      else
        a->log->WriteError("BootStrap", id, 2);
    }
  } catch (...) {
    return 1;
  }
  return 0;
}

}  // namespace

TEST_F(SessionLogTest, RecordsOfConcurrentThreadsNeverInterleave) {
  const int kThreads = 4, kRecords = 60;
  CSessionLog log(kApp, "BootStrap");
  std::vector<WriterArgs> args;
  for (int t = 0; t < kThreads; ++t) args.push_back({&log, t, kRecords});
  std::vector<HANDLE> threads;
  for (WriterArgs& a : args)
    threads.push_back(CreateThread(nullptr, 0, Writer, &a, 0, nullptr));
  for (HANDLE h : threads) {
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 120000));
    DWORD code = 1;
    GetExitCodeThread(h, &code);
    EXPECT_EQ(0u, code);
    CloseHandle(h);
  }

  // The file is whole records back to back (an error's system text keeps
  // its own line end); each thread's records come in its order.
  const std::string text = Read();
  const std::regex record(
      "\t<info [^>]*>(\\d+):(\\d+)</info>\r\n|"
      "\t<error [^>]* message=\"(\\d+):(\\d+)\">\r\n"
      "\t\t<exception status=\"2\" message=\"[^\"]*\"/>\r\n\t</error>\r\n");
  std::vector<int> next(kThreads, 0);
  size_t end = 0;
  int records = 0;
  for (std::sregex_iterator m(text.begin(), text.end(), record), last; m != last; ++m) {
    ASSERT_EQ(end, static_cast<size_t>(m->position())) << text.substr(end, 200);
    end += m->length();
    const bool isInfo = (*m)[1].matched;
    const int t = std::stoi((*m)[isInfo ? 1 : 3].str()), r = std::stoi((*m)[isInfo ? 2 : 4].str());
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(next[t], r) << "thread " << t;
    EXPECT_EQ(r % 2 == 0, isInfo);
    next[t] = r + 1;
    ++records;
  }
  EXPECT_EQ(text.size(), end);
  EXPECT_EQ(kThreads * kRecords, records);
}
