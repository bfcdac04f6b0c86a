// The platform-free rules: the switch, the working folder, percentages, log
// escaping, the pin check (downloads in pieces are hashed end to end), the
// archive's table and names against tables written by hand (independent of
// the writer), the extraction order, the installer's progress messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/bootstrap_command_line.h"
#include "app/exit_codes.h"
#include "framework/download_rules.h"
#include "framework/install_command.h"
#include "framework/installer_progress.h"
#include "framework/sha256.h"
#include "launcher/environment_filter.h"
#include "launcher/setup_command.h"
#include "log/log_format.h"
#include "payload/archive_format.h"
#include "payload/archive_order.h"
#include "payload/work_folder_rules.h"
#include "wizard/progress_math.h"
#include "recording_sink.h"

namespace {

using archive::Problem;
using Bytes = std::vector<unsigned char>;
using Names = std::vector<std::string>;

// The exe's own switch (without its prefix, a word for the setup program)
// and relaunch marker; the plain cases run end to end.
TEST(StartupSwitch, OnlyTheWholeWordAfterOnePrefixInAnyAsciiCase) {
  for (const char* arg : {"/UpDaTe", "/updates", "/updat", "/", "//update", "/upd\xC1te", "update"}) {
    CBootStrapCommandLineInfo info;
    ParseCommandLine({"file.txt", arg, "/impersonated"}, info);
    EXPECT_EQ(std::string(arg) == "/UpDaTe", info.update != 0) << arg;
  }
  for (const char* tail : {"", "impersonated", "/impersonated x", "/IMPERSONATED"})
    EXPECT_FALSE(IsRelaunchedCopy(tail)) << tail;
  // The quiet and help switches follow the same rule: u(pdate), q(uiet), h(elp).
  const struct { const char* arg; const char* set; } more[] = {
      {"/quiet", "q"}, {"-Q", "q"}, {"/QuIeT", "q"}, {"/quiets", ""}, {"/qu", ""}, {"q", ""},
      {"-?", "h"}, {"/HELP", "h"}, {"/??", ""}, {"?", ""}, {"/h", ""}, {"-update", "u"},
      {"/quiet/impersonated", "q"}, {"/impersonated", ""}, {"/quiet/impersonatedx", ""}};
  for (const auto& c : more) {
    CBootStrapCommandLineInfo info;
    ParseCommandLine({c.arg}, info);
    EXPECT_EQ(c.set, std::string(info.update ? "u" : "") + (info.quiet ? "q" : "") + (info.help ? "h" : ""))
        << c.arg;
  }
}

// The exit code: the setup program's own when it ran to its end, a restart
// only on top of its success; otherwise who ended the run. The installer
// results that leave the framework installed.
TEST(ExitCodes, SetupProgramFirstThenRestartThenWhoEndedIt) {
  const struct { bool finished; unsigned long setup; bool restart, cancelled; unsigned long code; } cases[] = {
      {true, 0, false, false, 0},     {true, 0, true, false, 3010},  {true, 7, true, false, 7},
      {true, 1602, false, false, 1602}, {true, 0, false, true, 0},   {false, 0, true, true, 1602},
      {false, 0, true, false, 1603},  {false, 259, false, false, 1603}};
  for (const auto& c : cases) {
    RunOutcome outcome;
    outcome.setupFinished = c.finished, outcome.setupExitCode = c.setup;
    outcome.restartRequired = c.restart, outcome.userCancelled = c.cancelled;
    EXPECT_EQ(c.code, RunExitCode(outcome)) << c.finished << c.setup << c.restart << c.cancelled;
  }
  for (unsigned long result : {0ul, 3010ul, 1641ul, 1ul, 1602ul, 1603ul, 3011ul, 1638ul})
    EXPECT_EQ(result == 0 || result == 3010 || result == 1641, FrameworkInstalledBy(result)) << result;
  EXPECT_FALSE(FrameworkNeedsRestartAfter(0));
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

// The work folder: 64 bits in the name, the owner only when elevated, and
// every folder on the path looked at (a link, or one unreadable, refuses).
TEST(WorkFolder, NameDescriptorAndPathCheck) {
  // A localised name's first three characters under code page 932, never half of one.
  auto sjis = [](unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); };
  const std::string hyo("\x95\x5C", 2), so("\x83\x5C", 2);
  const struct { std::string prefix, name; LeadBytePredicate lead; } names[] = {
      {"Ravenstock", "Rav", nullptr}, {hyo + so + hyo + "x", hyo + so + hyo, sjis},
      {"a" + hyo + "bc", "a" + hyo + "b", sjis}, {"ab\x95", "ab", sjis}, {"", "", sjis}};
  for (const auto& n : names)
    EXPECT_EQ(n.name + "0123456789ABCDEF.tmp", WorkFolderName(n.prefix, 0x0123456789ABCDEFull, n.lead)) << n.prefix;
  EXPECT_EQ("O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", WorkFolderSddl(true, "S-1-5-9"));
  EXPECT_EQ("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-9)", WorkFolderSddl(false, "S-1-5-9"));
  auto lead = [](unsigned char c) { return c == 0x95; };
  const std::string dbcs("C:\\\x95\x5C\\T", 7), d1 = dbcs.substr(0, 4), d2 = dbcs.substr(0, 5);
  const struct { std::string path, link, unsafe; LeadBytePredicate lead; } cases[] = {
      {"C:\\U\\me\\Temp", "", "", nullptr}, {"C:\\U\\me\\Temp\\", "C:\\U\\me", "C:\\U\\me", nullptr},
      {"c:\\U\\\\me\\T", "c:\\U\\\\me\\T", "c:\\U\\\\me\\T", nullptr},
      {"C:\\U\\me", "?C:\\U", "C:\\U", nullptr},  // unreadable
      {dbcs, d2, d2, lead}, {dbcs, d1, "", lead}, {"\\\\srv\\share\\T", "", "\\\\srv\\share\\T", nullptr},
      {"C:\\", "C:\\", "", nullptr}};  // the root itself is never looked at
  for (const auto& c : cases) {
    auto attributes = [&](const std::string& folder) -> std::uint32_t {
      return "?" + folder == c.link ? kNoAttributes : folder == c.link ? 0x410 : 0x10;
    };
    EXPECT_EQ(c.unsafe, FirstUnsafeFolder(c.path, c.lead, attributes)) << c.path;
  }
  for (const char* path : {"d:\\Temp\\", "\\\\srv\\share\\", "\\\\?\\C:\\Temp", "C:Temp"})
    EXPECT_EQ(path[0] == 'd' ? "d:\\" : "", DriveRootOf(path)) << path;
}

// The deletion over a tree with links at several depths (attributes 0x400
// with or without the folder bit): a link is removed as a link and nothing
// below it is ever listed; a folder goes after its content; a failure
// stops nothing else and is the one reported.
class FakeTree : public FolderOperations {
 public:
  std::map<std::string, std::vector<FolderEntry>> folders;
  std::map<std::string, std::uint32_t> failing;
  Names calls;
  std::uint32_t List(const std::string& folder, std::vector<FolderEntry>* entries) override {
    calls.push_back("list " + folder);
    *entries = folders[folder];
    return failing.count("list " + folder) ? failing["list " + folder] : 0;
  }
  std::uint32_t Remove(const std::string& path, const FolderEntry&, Removal removal) override {
    const char* kind[] = {"file ", "link ", "folder "};
    calls.push_back(kind[static_cast<int>(removal)] + path);
    return failing.count(calls.back()) ? failing[calls.back()] : 0;
  }
};

TEST(WorkFolder, DeletionRemovesLinksAsLinksAndNeverEntersThem) {
  for (std::uint32_t a : {0x20u, 0x21u, 0x80u}) EXPECT_EQ(Removal::kFile, RemovalOf(a)) << a;
  for (std::uint32_t a : {0x10u, 0x11u, 0x30u}) EXPECT_EQ(Removal::kFolder, RemovalOf(a)) << a;
  for (std::uint32_t a : {0x400u, 0x410u, 0x421u, 0x8410u}) EXPECT_EQ(Removal::kLink, RemovalOf(a)) << a;
  FakeTree tree;
  tree.folders["W"] = {{"a.txt", 0x21}, {"junction", 0x410}, {"d", 0x10}, {"s.lnk", 0x420}};
  tree.folders["W\\d"] = {{"mount", 0x410}, {"e", 0x11}, {"held", 0x20}};
  tree.folders["W\\d\\e"] = {{"deep", 0x410}, {"f", 0x20}};
  // What the links lead to: listed, the walk would find these.
  for (const char* target : {"W\\junction", "W\\d\\mount", "W\\d\\e\\deep"}) tree.folders[target] = {{"victim", 0x20}};
  tree.failing["file W\\d\\held"] = 32;
  tree.failing["folder W\\d"] = 145;
  EXPECT_EQ(32u, EmptyFolder("W", tree));
  EXPECT_EQ((Names{"list W", "file W\\a.txt", "link W\\junction", "list W\\d", "link W\\d\\mount",
                   "list W\\d\\e", "link W\\d\\e\\deep", "file W\\d\\e\\f", "folder W\\d\\e",
                   "file W\\d\\held", "folder W\\d", "link W\\s.lnk"}), tree.calls);
  // A folder that cannot be listed is still removed when it can be; the
  // root itself is the caller's.
  FakeTree locked;
  locked.folders["W"] = {{"x", 0x10}};
  locked.failing["list W\\x"] = 5;
  EXPECT_EQ(5u, EmptyFolder("W", locked));
  EXPECT_EQ((Names{"list W", "list W\\x", "folder W\\x"}), locked.calls);
}

// Only names that begin with a runtime's prefix leave, in any case and as
// the system folds them; values and names that merely contain one stay.
std::wstring EnvironmentBlock(const std::vector<std::wstring>& entries) {
  std::wstring block;
  for (const std::wstring& e : entries) block += e + L'\0';
  return block + L'\0';
}

TEST(ChildEnvironment, RuntimeHooksLeaveTheBlockAndNothingElse) {
  const std::vector<std::wstring> kept = {L"=C:=C:\\x", L"TEMP=C:\\t", L"XCOR_=1", L"CORX=1", L"DOTNETX=1",
                                          L"PATH=COR_A=1", L"COMPLUS=1"};
  const std::vector<std::wstring> hooks = {L"COR_ENABLE_PROFILING=1", L"cor_profiler_path=C:\\u\\p.dll",
                                           L"COMPLUS_ZapDisable=1", L"Dotnet_X=1"};
  // A long s, which the system's table may fold to S.
  const std::wstring longS = L"COMPLU\u017F_Y=1";
  std::vector<std::wstring> all;
  for (size_t i = 0; i < kept.size(); ++i) {
    all.push_back(kept[i]);
    if (i < hooks.size()) all.push_back(hooks[i]);
  }
  all.push_back(longS);
  const std::wstring block = EnvironmentBlock(all);
  auto folds = [](wchar_t c) -> wchar_t { return c == L'\u017F' ? L'S' : c >= L'a' && c <= L'z' ? c - 32 : c; };
  for (bool systemFold : {false, true}) {
    std::vector<std::wstring> removed, expectedRemoved = {L"COR_ENABLE_PROFILING", L"cor_profiler_path",
                                                          L"COMPLUS_ZapDisable", L"Dotnet_X"};
    std::vector<std::wstring> expectedKept = kept;
    if (systemFold) expectedRemoved.push_back(L"COMPLU\u017F_Y");
    else expectedKept.push_back(longS);
    EXPECT_EQ(EnvironmentBlock(expectedKept),
              WithoutRuntimeHooks(block.data(), block.size(), systemFold ? +folds : nullptr, &removed));
    EXPECT_EQ(expectedRemoved, removed);
  }
  // Nothing left is still a block; one cut short keeps its whole strings only.
  std::vector<std::wstring> removed;
  EXPECT_EQ(std::wstring(L"\0\0", 2), WithoutRuntimeHooks(L"COR_X=1\0", 8, nullptr, &removed));
  EXPECT_EQ(std::wstring(L"A=1\0\0", 5), WithoutRuntimeHooks(L"A=1\0B=2", 7, nullptr, &removed));
}

TEST(Percentages, TruncateNeverDivideByZeroAndStayInRange) {
  const unsigned cases[][3] = {{1, 1000, 0},         {999, 1000, 99},  {2, 3, 66},
                               {65536, 0, 0},        {0x80000000u, 0xFFFFFFFFu, 50},
                               {3000000000u, 4000000000u, 75}, {1500, 1000, 150}, {0xFFFFFFFFu, 1, INT_MAX}};
  for (const auto& c : cases) EXPECT_EQ(static_cast<int>(c[2]), PercentOf(c[0], c[1])) << c[0];
  EXPECT_EQ(70, ExtendedUpperBound(100, -30));
  EXPECT_EQ(INT_MAX, ExtendedUpperBound(INT_MAX - 5, 100));
  EXPECT_EQ(INT_MIN, ExtendedUpperBound(INT_MIN + 5, -100));
}

// Texts from outside (paths, installer messages) cannot end a record early.
TEST(LogFormat, Escapes) {
  // A log file the run creates: nobody but SYSTEM and the Administrators
  // (and an unelevated run's own user) may open it.
  EXPECT_EQ("O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)", LogFileSddl(true, "S-1-5-9"));
  EXPECT_EQ("D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-5-9)", LogFileSddl(false, "S-1-5-9"));
  EXPECT_EQ("a&lt;b &amp;lt; c&gt;d \"q\" 'a'", EscapeText("a<b &lt; c>d \"q\" 'a'"));
  EXPECT_EQ("&quot;a&apos;b&lt;&amp;&gt;", EscapeAttribute("\"a'b<&>"));
}

const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

// Lengths around the padding's edges (55, 56, 63, 64 and 119 bytes modulo
// 64), against digests from another implementation, whole and in pieces
// that straddle the blocks as a download's chunks do.
TEST(Sha256, KnownDigestsAtBlockBoundariesWholeAndInPieces) {
  const std::pair<size_t, const char*> known[] = {
      {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {55, "16fa57a0a3423a715d594516339f36189d6b5f93754a9714fef202616a9fabfe"},
      {56, "c37b44e5f1b18554b36966f4f8e08bfbf3164c4b6c10374d12d89850892073c5"},
      {63, "bbba992d2c85af960fb2987a1fd05e0aa82a3db3c740dd8982a9e273b75e36a3"},
      {64, "66bd4633ed6f71c4ecfa4763bf7ba1c8ec7612de9aa6c0578a7b675207c71e0b"},
      {119, "a3ed307b730fa77c07531300c6e4a282330011d4d4caf6bb7b63ae05950f4b66"},
      {120, "8e3b15d9fea7472655aa069620b7f8c2e55ee1499f763200a7515fe826e99d20"},
      {1000, "095ecb62e30793ab4b954cd6a0586d0cc91f7ea5b1332694d8da780e98676d78"}};
  for (const auto& k : known) {
    std::vector<unsigned char> data(k.first);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + 1);
    EXPECT_EQ(k.second, Sha256Hex(data.data(), data.size())) << k.first;
    for (size_t piece : {1, 13, 63, 65}) {
      Sha256 h;
      for (size_t at = 0; at < data.size(); at += piece)
        h.Update(data.data() + at, std::min(piece, data.size() - at));
      EXPECT_EQ(k.second, h.FinalHex()) << k.first << " in pieces of " << piece;
    }
  }
}

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
  // A list: any pin lets the file through; one malformed token, none.
  const std::string abc = kAbc, empty = std::string(64, 'e');
  const std::pair<std::string, size_t> lists[] = {
      {abc, 1}, {abc + "\r\n", 1}, {empty + "\n" + abc + "\n", 2}, {empty + " \t" + abc, 2},
      {"\n", 0}, {abc + "\n" + empty.substr(1), 0}, {abc + empty, 0},
      {abc + std::string(1, '\0') + empty, 0}};
  for (const auto& l : lists) {
    EXPECT_EQ(l.second, ParsePins(l.first).size()) << l.first;
    EXPECT_EQ(l.second > 0, DigestMatchesAnyPin(kAbc, l.first)) << l.first;
  }
}

// The processor's SHA extensions (where this machine has them) against the
// portable code, block runs of random lengths and random starting states.
TEST(Sha256, ProcessorExtensionsAgreeWithThePortableCode) {
  const Sha256Blocks fast = ProcessorSha256Blocks(), portable = PortableSha256Blocks();
  if (fast == nullptr) GTEST_SKIP() << "this processor has no SHA extensions";
  std::mt19937 random(20261207);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> data(64 * (1 + random() % 40));
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    uint32_t a[8], b[8];
    for (int i = 0; i < 8; ++i) a[i] = b[i] = random();
    fast(a, data.data(), data.size() / 64);
    portable(b, data.data(), data.size() / 64);
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << data.size() << " bytes";
  }
}

// Response heads as WinINet hands them over. Columns: the raw head; status;
// length (-1: none); range first, last, total (-2: none, -1: "*"); ETag;
// Retry-After; the proxy's schemes.
TEST(DownloadRules, ResponseHeadsAreReadStrictly) {
  const struct {
    const char* raw;
    unsigned long status;
    long long length, first, last, total;
    const char* etag;
    long retryAfter;
    const char* schemes;
  } cases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nETag: \"x\"\r\n\r\n", 200, 1000, 0, 0, -2, "\"x\"", -1, ""},
      {"HTTP/1.0 206 Partial\r\ncontent-range: bytes 500-999/1000\r\nContent-Length:500\r\n", 206, 500, 500, 999, 1000, "", -1, ""},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 500-999/*\r\n", 206, -1, 500, 999, -1, "", -1, ""},
      // Malformed ranges and lengths are no range or length at all.
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 999-500/1000\r\n", 206, -1, 0, 0, -2, "", -1, ""},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 0-1000/1000\r\n", 206, -1, 0, 0, -2, "", -1, ""},
      {"HTTP/1.1 206 P\r\nContent-Range: items 0-1/2\r\nContent-Length: 12x\r\n", 206, -1, 0, 0, -2, "", -1, ""},
      {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n", 200, -1, 0, 0, -2, "", -1, ""},
      {"HTTP/1.1 503 Busy\r\nRetry-After: 12\r\n", 503, -1, 0, 0, -2, "", 12, ""},
      {"HTTP/1.1 503 Busy\r\nRetry-After: Wed, 21 Oct 2026 07:28:00 GMT\r\n", 503, -1, 0, 0, -2, "", -1, ""},
      {"HTTP/1.1 407 Auth\r\nProxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm=\"a, b\"\r\n", 407, -1, 0, 0, -2, "", -1, "NTLM, Basic"},
      {"garbage\r\nContent-Length: 3\r\n", 0, 3, 0, 0, -2, "", -1, ""},
      {"", 0, -1, 0, 0, -2, "", -1, ""},
  };
  for (const auto& c : cases) {
    const ResponseHead h = ParseResponseHead(c.raw);
    EXPECT_EQ(c.status, h.status) << c.raw;
    EXPECT_EQ(c.length, h.hasLength ? static_cast<long long>(h.length) : -1) << c.raw;
    EXPECT_EQ(c.total, !h.hasRange ? -2 : h.rangeTotalKnown ? static_cast<long long>(h.rangeTotal) : -1) << c.raw;
    if (h.hasRange) EXPECT_EQ(c.first * 100000 + c.last, static_cast<long long>(h.rangeFirst * 100000 + h.rangeLast)) << c.raw;
    EXPECT_EQ(c.etag, h.etag) << c.raw;
    EXPECT_EQ(c.retryAfter, h.retryAfter) << c.raw;
    EXPECT_EQ(c.schemes, h.proxySchemes) << c.raw;
  }
}

// What is tried again, after how long, and which answer continues the bytes
// kept (500 of 1000).
TEST(DownloadRules, RetriesPausesAndContinuations) {
  for (unsigned long status : {408, 429, 500, 502, 503, 504}) EXPECT_TRUE(IsTransientStatus(status)) << status;
  for (unsigned long status : {200, 206, 301, 400, 403, 404, 407, 410, 501, 505}) EXPECT_FALSE(IsTransientStatus(status)) << status;
  for (unsigned long error : {12002, 12029, 12030, 12031, 12152, 38}) EXPECT_TRUE(IsTransientError(error)) << error;
  for (unsigned long error : {12007, 12014, 1223, 112, 0}) EXPECT_FALSE(IsTransientError(error)) << error;
  EXPECT_EQ((std::vector<unsigned long>{2000, 4000, 8000}),
            (std::vector<unsigned long>{RetryPauseMs(0, -1, 2000), RetryPauseMs(1, -1, 2000), RetryPauseMs(2, -1, 2000)}));
  EXPECT_EQ(0ul, RetryPauseMs(2, 0, 2000));
  EXPECT_EQ(17000ul, RetryPauseMs(0, 17, 2000));
  EXPECT_EQ(30000ul, RetryPauseMs(0, 3600, 2000));

  ResponseHead first = ParseResponseHead("HTTP/1.1 200 OK\r\nETag: W/\"weak\"\r\nLast-Modified: Tue, 01 Dec 2026\r\n");
  EXPECT_EQ("Tue, 01 Dec 2026", ResumeValidator(first));
  first.etag = "\"strong\"";
  EXPECT_EQ("\"strong\"", ResumeValidator(first));
  EXPECT_EQ("Range: bytes=500-\r\nIf-Range: \"strong\"\r\n", RangeHeaders(500, "\"strong\""));
  const std::pair<const char*, bool> answers[] = {
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 500-999/1000\r\nContent-Length: 500\r\n", true},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 500-999/1000\r\n", true},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 0-999/1000\r\n", false},     // from the start
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 500-998/1000\r\n", false},   // not to the end
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 500-1099/1100\r\n", false},  // another file
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 500-999/*\r\n", false},
      {"HTTP/1.1 206 P\r\nContent-Range: bytes 500-999/1000\r\nContent-Length: 600\r\n", false},
      {"HTTP/1.1 200 OK\r\nContent-Range: bytes 500-999/1000\r\n", false},
  };
  for (const auto& a : answers) EXPECT_EQ(a.second, ContinuesAt(ParseResponseHead(a.first), 500, 1000)) << a.first;
}


void SetU32(Bytes* b, size_t at, uint32_t v) {
  if (b->size() < at + 4) b->resize(at + 4);
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

Bytes RawTable(const std::vector<std::pair<std::string, std::string>>& entries, uint32_t launch) {
  Bytes t;
  SetU32(&t, 0, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    SetU32(&t, t.size(), static_cast<uint32_t>(e.first.size()));
    t.insert(t.end(), e.first.begin(), e.first.end());
    SetU32(&t, t.size(), static_cast<uint32_t>(e.second.size()));
    t.insert(t.end(), e.second.begin(), e.second.end());
  }
  SetU32(&t, t.size(), launch);
  return t;
}

Problem ReadTable(const Bytes& table) {
  const Bytes resource = archive::CompressTable(table);
  archive::Inflated inflated;
  archive::Table parsed;
  return archive::ReadArchive(resource.data(), resource.size(), &inflated, &parsed).problem;
}

// Damaged streams, plain bad tables and the round trip are driven end to
// end; these are the table faults and names no embedded archive shows.
TEST(ArchiveFormat, TablesThatDoNotAddUpAndNamesThatLeaveTheFolderAreInvalid) {
  const Bytes table = RawTable({{"a.exe", "abc"}}, 0);
  Bytes longData = table, hugeCount = table;
  SetU32(&longData, 13, 0xFFFFFFFFu);
  SetU32(&hugeCount, 0, 0x20000000u);
  for (const Bytes& t : {longData, hugeCount, Bytes(table.begin(), table.end() - 4), Bytes{1, 0}})
    EXPECT_EQ(Problem::kTableCut, ReadTable(t));
  for (const char* name : {"../x", "/x", "\\x", "C:x", "c:\\x", "a/../../x", "a\\..\\x", ".", "..",
                           "", "a/.. /x", "a/.../x", "a//b", "dir/", "x.txt:stream",
                           // Devices in any component, any case, with or without an extension;
                           // a trailing dot or blank, which Windows would drop.
                           "con", "NUL.txt", "fr/Aux.dll", "com1/x", "LPT9.log", "prn .txt",
                           "setup.exe.", "readme ", "fr./x.dll"})
    EXPECT_EQ(Problem::kBadName, ReadTable(RawTable({{"setup.exe", "M"}, {name, "d"}}, 0))) << name;
  EXPECT_EQ(Problem::kBadName, ReadTable(RawTable({{std::string("a\0b", 3), "x"}}, 0)));
  for (const char* name : {"setup.exe", "fr/x.dll", "a/b/c", ".hidden", "a..b", "...x",
                           "console.txt", "com10", "lpt0", "nul2/x", "auxiliary"})
    EXPECT_TRUE(archive::IsSafeName(name)) << name;
  // Two names for one file: the later entry would replace the earlier.
  for (const char* twin : {"setup.exe", "SETUP.EXE", "fr\\x.dll", "FR/X.dll"})
    EXPECT_EQ(Problem::kBadName,
              ReadTable(RawTable({{"setup.exe", "M"}, {"fr/x.dll", "1"}, {twin, "2"}}, 0))) << twin;
  EXPECT_EQ(Problem::kNone, ReadTable(RawTable({{"a/b", "1"}, {"b/a", "2"}, {"ab", "3"}}, 0)));
}

TEST(ArchiveOrder, FolderFilesFirstAndEveryFolderMadeBeforeUse) {
  Names names = {"fr/b/z.txt", "setup.exe", "fr/a.dll", "b.txt", "fr/b/y.txt", "de/x.dll"};
  std::string why;
  ASSERT_TRUE(archive::OrderForExtraction(&names, &why)) << why;
  EXPECT_EQ((Names{"b.txt", "setup.exe", "de/x.dll", "fr/a.dll", "fr/b/y.txt", "fr/b/z.txt"}), names);
  // Nothing lies directly in "a", so "a/b" can never be created.
  Names emptyMiddle = {"setup.exe", "a/b/c.txt"};
  EXPECT_FALSE(archive::OrderForExtraction(&emptyMiddle, &why));
  EXPECT_NE(std::string::npos, why.find("\"a\"")) << why;
  EXPECT_TRUE(archive::IsExtractableOrder({"A/x", "a/b/c.txt"}, &why)) << why;  // case-blind
  EXPECT_FALSE(archive::IsExtractableOrder({"a/b/c.txt", "a/x"}, &why));
  EXPECT_FALSE(archive::IsExtractableOrder({"a/x", "a/b/c/d"}, &why));
  Names sameFile = {"Readme.txt", "setup.exe", "readme.txt"};
  EXPECT_FALSE(archive::OrderForExtraction(&sameFile, &why));
}


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
  EXPECT_TRUE(state.ScriptInProgress() && sink.Last() == "set 0/1000");
  // The script flag of the previous reset decides: this one starts full.
  Progress("1: 0 2: 500 3: 0 4: 0 ");
  EXPECT_EQ(500, sink.pos);
  Progress("1: 0 2: 300 3: 0 4: 0 ");
  EXPECT_EQ("set 0/300", sink.Last());
  // Backward: full, and reports move back.
  Progress("1: 0 2: 200 3: 1 4: 0 ");
  EXPECT_TRUE(sink.pos == 200 && !state.Forward());
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

  Send(kInstallCommonData, "Message type: 0, Argument: 1031, 0");  // the installer's own words
  EXPECT_EQ(1031, state.Language());
  Send(kInstallCommonData, "1: 0 2: 1036 3: 0 ");
  EXPECT_EQ(1036, state.Language());
  EXPECT_EQ(4, Send(kInstallError | 0x35, "Disk full"));
  EXPECT_EQ("Error [Disk full] 53 1036", sink.Last());
  Send(kInstallWarning | 0x30, "Careful");
  EXPECT_EQ("Warning [Careful] 48 1036", sink.Last());
  Send(kInstallCommonData, "1: 2 2: 0 ");
  Send(kInstallCommonData, "1: 2 2: 1 ");
  EXPECT_EQ("cancel off|cancel on", sink.calls[sink.calls.size() - 2] + "|" + sink.Last());
  Send(kInstallCommonData, "Message type: 2, Argument: 0");
  EXPECT_EQ("cancel off", sink.Last());
  // The caption message changes nothing; the language keeps its low 16 bits
  // (0x10412: 1042, not the 1036 stored before).
  const size_t before = sink.calls.size();
  EXPECT_EQ(kInstallerOk, Send(kInstallCommonData, "1: 1 2: Ravenstock "));
  for (const char* text : {"Message type: 1, Argument: Ravenstock", "Message type: 2", "Message type: "})
    Send(kInstallCommonData, text);
  Send(kInstallCommonData, "1: 0 2: 66578 ");
  EXPECT_EQ(before, sink.calls.size());
  EXPECT_EQ(1042, state.Language());
}

// Values past the 32-bit range saturate; the most negative report, running
// backward, still moves the bar without overflowing.
TEST(InstallerFieldParsing, HugeValuesSaturate) {
  InstallerProgress state;
  ASSERT_TRUE(state.ParseProgress("1: 0 2: 12x4 3: -3 4: 99999999999999999999 "));
  EXPECT_EQ(12, state.ProgressField(2));
  EXPECT_EQ(-3, state.ProgressField(3));
  EXPECT_EQ(2147483647, state.ProgressField(4));
  Sink sink;
  state.Handle(kInstallProgress, "1: 0 2: 10 3: 1 4: 0 ", false, sink);
  state.Handle(kInstallProgress, "1: 2 2: -2147483648 ", false, sink);
  EXPECT_EQ("offset 2147483647", sink.Last());
}

}  // namespace
