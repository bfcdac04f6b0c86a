// The resources of the built exe, read the way the loader and the dialog
// manager read them. The .rc text is not trusted: resource compilers add
// styles of their own (WS_CHILD | WS_VISIBLE on every CONTROL), turn class
// names into ordinals and choose languages, and make-bootstrapper recompiles
// the resources for every variant, so each exe is checked as built.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "resource_ids.h"
#include "support/e2e.h"
#include "version.h"

namespace {

// The win32 tree's exe and every variant the end-to-end tests start.
std::vector<std::string> ProductExes() {
  std::vector<std::string> exes;
  const std::string tree = e2e::BuildDir() + "\\win32\\resources\\Ravenstock_Setup.exe";
  if (e2e::PathExists(tree)) exes.push_back(tree);
  WIN32_FIND_DATAA found;
  const std::string variants = e2e::BuildDir() + "\\e2e\\";
  HANDLE find = FindFirstFileA((variants + "*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return exes;
  do {
    const std::string exe = variants + found.cFileName + "\\Ravenstock_Setup.exe";
    if (found.cFileName[0] != '.' && e2e::PathExists(exe)) exes.push_back(exe);
  } while (FindNextFileA(find, &found));
  FindClose(find);
  return exes;
}

struct Blob {
  const BYTE* data = nullptr;
  DWORD size = 0;
  explicit operator bool() const { return data != nullptr; }
};

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD lang, LONG_PTR out) {
  try {
    reinterpret_cast<std::vector<WORD>*>(out)->push_back(lang);
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

BOOL CALLBACK AddName(HMODULE, LPCSTR, LPSTR name, LONG_PTR out) {
  try {
    if (IS_INTRESOURCE(name))
      reinterpret_cast<std::vector<WORD>*>(out)->push_back(LOWORD(name));
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

// The exe mapped as data: nothing of it runs.
class Image {
 public:
  explicit Image(const std::string& path)
      : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  ~Image() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  bool Loaded() const { return module_ != nullptr; }

  Blob Find(LPCSTR type, WORD id) const {
    Blob blob;
    HRSRC info = FindResourceA(module_, MAKEINTRESOURCEA(id), type);
    HGLOBAL loaded = info != nullptr ? LoadResource(module_, info) : nullptr;
    if (loaded == nullptr) return blob;
    blob.data = static_cast<const BYTE*>(LockResource(loaded));
    blob.size = SizeofResource(module_, info);
    return blob;
  }

  std::vector<WORD> Languages(LPCSTR type, WORD id) const {
    std::vector<WORD> langs;
    EnumResourceLanguagesA(module_, type, MAKEINTRESOURCEA(id), AddLanguage,
                           reinterpret_cast<LONG_PTR>(&langs));
    return langs;
  }

  std::vector<WORD> Ids(LPCSTR type) const {
    std::vector<WORD> ids;
    EnumResourceNamesA(module_, type, AddName, reinterpret_cast<LONG_PTR>(&ids));
    return ids;
  }

 private:
  HMODULE module_;
};

// Bounds-checked little-endian reading; a read past the end marks the
// reader failed and yields zeros, so a truncated resource fails the test
// instead of reading stray memory.
class Reader {
 public:
  explicit Reader(Blob b) : p_(b.data), n_(b.data != nullptr ? b.size : 0) {}
  bool Ok() const { return ok_; }
  size_t Offset() const { return at_; }

  DWORD Read(size_t bytes) {
    if (!ok_ || n_ - at_ < bytes) {
      ok_ = false;
      return 0;
    }
    DWORD v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= DWORD(p_[at_ + i]) << (8 * i);
    at_ += bytes;
    return v;
  }
  WORD Word() { return WORD(Read(2)); }
  DWORD Dword() { return Read(4); }
  short Short() { return short(Word()); }
  void AlignDword() { Read((4 - at_ % 4) % 4); }

  // UTF-16 up to its terminator; characters outside ASCII (which no text
  // here has) become '?', so they still show as a difference.
  std::string Sz() {
    std::string s;
    for (WORD c = Word(); ok_ && c != 0; c = Word())
      s += c < 0x80 ? char(c) : '?';
    return s;
  }
  // A dialog's name-or-ordinal field: "" for none, "#n" for an ordinal.
  std::string SzOrOrd() {
    WORD first = Word();
    if (first == 0) return std::string();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    at_ -= 2;
    return Sz();
  }

 private:
  const BYTE* p_;
  size_t n_;
  size_t at_ = 0;
  bool ok_ = true;
};

template <typename T>
T Header(Blob b) {
  T t{};
  if (b && b.size >= sizeof t) std::memcpy(&t, b.data, sizeof t);
  return t;
}

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    exes_ = ProductExes();
    ASSERT_TRUE(e2e::PathExists(e2e::VariantExe("plain")))
        << e2e::VariantExe("plain") << " is missing: run scripts/e2e-variants";
  }
  // Runs check on every exe, each under a trace naming it.
  template <typename Check>
  void ForEachExe(Check check) {
    for (const std::string& exe : exes_) {
      SCOPED_TRACE(exe);
      Image image(exe);
      ASSERT_TRUE(image.Loaded()) << "error " << GetLastError();
      check(exe, image);
    }
  }
  std::vector<std::string> exes_;
};

// ------------------------------------------------------------ string table

std::map<int, std::string> StringTable(const Image& image) {
  std::map<int, std::string> strings;
  for (WORD block : image.Ids(RT_STRING)) {
    Reader r(image.Find(RT_STRING, block));
    for (int i = 0; i < 16 && r.Ok(); ++i) {
      WORD length = r.Word();
      std::string text;
      for (WORD k = 0; k < length; ++k) {
        WORD c = r.Word();
        text += c < 0x80 ? char(c) : '?';
      }
      if (length != 0) strings[(block - 1) * 16 + i] = text;
    }
    EXPECT_TRUE(r.Ok()) << "string block " << block << " is truncated";
  }
  return strings;
}

const std::map<int, std::string>& FixedStrings() {
  static const std::map<int, std::string> texts = {
      {200, "Ravenstock requires Windows 2000 or Windows XP in order to install."},
      {201, "An error occurred while installing Ravenstock : the setup program may be "
            "corrupted. Get a newer version and try again."},
      {202, "You must be logged on as an administrator to install Ravenstock."},
      {203, "Preparing installation"},
      {204, "Welcome in the Ravenstock installer. Click \"Next\" to continue."},
      {205, "The Microsoft .Net Framework is required."},
      {206, "Downloading the Microsoft .Net Framework 1.1."},
      {207, "Please wait..."},
      {208, "Downloading the .Net Framework 1.1 (%s - %d%%)."},
      {209, "Unpacking the Microsoft .Net Framework 1.1."},
      {210, "This operation can take one minute or two."},
      {211, "Installing the Microsoft .Net Framework 1.1."},
      {212, "Installing the .Net Framework 1.1 (%d%%)."},
      {213, "Preparing Ravenstock setup. Please wait..."},
      {214, "Installing Ravenstock..."},
      {215, "An error occurred while installing Ravenstock Beta."},
      {216, "Click \"Next\" to navigate to the Microsoft Web site for installing the "
            ".Net Framework manually."},
      {217, "An error occured while unpacking the .Net Framework 1.1 installer."},
      {218, "Install the .Net Framework 1.1 from the Web"},
      {219, "Install the .Net Framework 1.1 manually from the Microsoft Web site then "
            "click \"Next\" to continue the installation."},
      {220, "Click \"Next\" to navigate to the Microsoft Web site for installing the "
            ".Net Framework manually."},
      {300, "Ravenstock Setup"},
      {301, "Ravenstock"},
      {303, "/downloads/framework.net.1.1.exe"},
  };
  return texts;
}

// Strings 302 and 304 vary with the variant's web host but must agree: the
// download and the manual-install page are on the same host.
void ExpectWebHostStrings(std::map<int, std::string>& strings) {
  const std::string host = strings[IDS_WEB_HOST];
  EXPECT_FALSE(host.empty());
  EXPECT_EQ(host.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:"),
            std::string::npos)
      << host;
  EXPECT_EQ(strings[IDS_MANUAL_URL],
            "http://" + host + "/downloads/framework.net.1.1.htm");
  strings.erase(IDS_WEB_HOST);
  strings.erase(IDS_MANUAL_URL);
}

TEST_F(ResourcesTest, StringTableHoldsExactlyTheUserInterfaceTexts) {
  ForEachExe([](const std::string&, const Image& image) {
    std::map<int, std::string> strings = StringTable(image);
    ExpectWebHostStrings(strings);
    EXPECT_EQ(strings, FixedStrings());
  });
}

// One language only: a second copy in another language would be the one
// some systems pick.
TEST_F(ResourcesTest, EveryResourceIsNeutralOrUsEnglishOnce) {
  ForEachExe([](const std::string&, const Image& image) {
    std::vector<std::pair<LPCSTR, WORD>> resources = {
        {RT_DIALOG, IDD_SETUPWIZARD_DIALOG}, {RT_BITMAP, IDB_WIZARD_PICTURE},
        {RT_GROUP_ICON, IDI_MAINFRAME},      {MAKEINTRESOURCEA(24), 1},
        {RT_VERSION, 1}};
    for (WORD block : image.Ids(RT_STRING)) resources.emplace_back(RT_STRING, block);
    for (const auto& [type, id] : resources) {
      const std::vector<WORD> langs = image.Languages(type, id);
      EXPECT_EQ(langs.size(), 1u) << "type " << LOWORD(type) << " id " << id;
      for (WORD lang : langs) EXPECT_TRUE(lang == 0 || lang == 0x409) << lang;
    }
  });
}

// ----------------------------------------------------------------- dialog

struct Control {
  DWORD id;
  std::string cls;
  std::string text;
  short x, y, cx, cy;
  DWORD style;
};

bool operator==(const Control& a, const Control& b) {
  return a.id == b.id && a.cls == b.cls && a.text == b.text && a.x == b.x &&
         a.y == b.y && a.cx == b.cx && a.cy == b.cy && a.style == b.style;
}

std::ostream& operator<<(std::ostream& os, const Control& c) {
  char style[16];
  wsprintfA(style, "0x%08lX", static_cast<unsigned long>(c.style));
  return os << "{id " << static_cast<int>(c.id) << ", " << c.cls << ", \"" << c.text
            << "\", " << c.x << "," << c.y << "," << c.cx << "," << c.cy << ", " << style
            << "}";
}

const char kButton[] = "#128", kEdit[] = "#129", kStatic[] = "#130";

const std::vector<Control>& ExpectedControls() {
  static const std::vector<Control> controls = {
      {IDOK, kButton, "&Next", 198, 169, 56, 16, 0x50010001},
      {IDCANCEL, kButton, "&Cancel", 259, 169, 55, 16, 0x50010000},
      {DWORD(-1), kStatic, "#129", 0, 0, 109, 192, 0x5000000E},
      {IDC_PROGRESS, "msctls_progress32", "", 116, 88, 198, 12, 0x40000000},
      {IDC_STATUS_TEXT, kStatic, "", 116, 75, 198, 8, 0x50024000},
      {IDC_TITLE, kStatic, "", 116, 38, 198, 37, 0x50020000},
      {IDC_DETAIL_TEXT, kStatic, "", 116, 111, 198, 8, 0x50024000},
      {IDC_ACCEPT, kButton, "Yes, I have read the agreement and want to continue", 118,
       142, 196, 10, 0x40030009},
      {IDC_DECLINE, kButton, "No, I do not want to install the Microsoft .Net Framework",
       118, 155, 196, 10, 0x40010009},
      {IDC_LICENSE, kEdit, "", 115, 27, 199, 109, 0x40A00804},
      {IDC_LICENSE_PROMPT, kStatic,
       "You must accept the Microsoft .Net Framework End User Licence Agreement before "
       "continuing :",
       118, 8, 196, 18, 0x40020000},
      {IDC_ERROR_TEXT, kStatic, "Error", 116, 94, 198, 57, 0x40020080},
  };
  return controls;
}

// One item of an extended dialog template; help id, extended style and
// creation data must be empty, as nothing here uses them.
Control ReadControl(Reader& r) {
  r.AlignDword();
  EXPECT_EQ(r.Dword(), 0u) << "help id";
  EXPECT_EQ(r.Dword(), 0u) << "extended style";
  Control c{};
  c.style = r.Dword();
  c.x = r.Short();
  c.y = r.Short();
  c.cx = r.Short();
  c.cy = r.Short();
  c.id = r.Dword();
  c.cls = r.SzOrOrd();
  // Class names are looked up without regard to case, and windres can only
  // store them in upper case.
  if (c.cls.compare(0, 1, "#") != 0)
    std::transform(c.cls.begin(), c.cls.end(), c.cls.begin(),
                   [](char ch) { return char(std::tolower(static_cast<unsigned char>(ch))); });
  c.text = r.SzOrOrd();
  EXPECT_EQ(r.Word(), 0u) << "creation data of control " << static_cast<int>(c.id);
  return c;
}

void ExpectDialogHeader(Reader& r, WORD* count) {
  EXPECT_EQ(r.Word(), 1u) << "extended template version";
  EXPECT_EQ(r.Word(), 0xFFFFu) << "extended template signature";
  EXPECT_EQ(r.Dword(), 0u) << "help id";
  EXPECT_EQ(r.Dword(), 0x40000u) << "extended style";
  EXPECT_EQ(r.Dword(), 0x90C800C8u) << "style";
  *count = r.Word();
  const short x = r.Short(), y = r.Short(), cx = r.Short(), cy = r.Short();
  EXPECT_EQ(std::vector<short>({x, y, cx, cy}), std::vector<short>({0, 0, 320, 191}));
  EXPECT_EQ(r.SzOrOrd(), "") << "menu";
  EXPECT_EQ(r.SzOrOrd(), "") << "class";
  EXPECT_EQ(r.Sz(), "") << "caption";
  EXPECT_EQ(r.Word(), 8u) << "point size";
  EXPECT_EQ(r.Word(), 0u) << "weight";
  EXPECT_EQ(r.Read(1), 0u) << "italic";
  EXPECT_EQ(r.Read(1), 1u) << "character set";
  EXPECT_EQ(r.Sz(), "MS Shell Dlg");
}

TEST_F(ResourcesTest, WizardDialogTemplateIsExactlyAsDesigned) {
  ForEachExe([](const std::string&, const Image& image) {
    const Blob blob = image.Find(RT_DIALOG, IDD_SETUPWIZARD_DIALOG);
    ASSERT_TRUE(blob);
    Reader r(blob);
    WORD count = 0;
    ExpectDialogHeader(r, &count);
    std::vector<Control> controls;
    for (WORD i = 0; i < count && r.Ok(); ++i) controls.push_back(ReadControl(r));
    ASSERT_TRUE(r.Ok()) << "template truncated";
    const std::vector<Control>& expected = ExpectedControls();
    EXPECT_EQ(controls.size(), expected.size());
    for (size_t i = 0; i < std::min(controls.size(), expected.size()); ++i)
      EXPECT_EQ(controls[i], expected[i]) << "control " << i << " in template order";
  });
}

// ------------------------------------------------------- picture and icon

TEST_F(ResourcesTest, WizardPictureIsAComplete24BitBitmap) {
  ForEachExe([](const std::string&, const Image& image) {
    const Blob bmp = image.Find(RT_BITMAP, IDB_WIZARD_PICTURE);
    ASSERT_TRUE(bmp);
    const BITMAPINFOHEADER h = Header<BITMAPINFOHEADER>(bmp);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 165);
    EXPECT_EQ(h.biHeight, 312);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(h.biXPelsPerMeter, 3780);
    EXPECT_EQ(h.biYPelsPerMeter, 3780);
    EXPECT_EQ(h.biClrUsed, 0u);
    const DWORD stride = (165 * 3 + 3) & ~3u;
    EXPECT_GE(bmp.size, 40 + stride * 312) << "pixel rows missing";
  });
}

struct IconEntry {
  int size;
  int bits;
  bool operator<(const IconEntry& o) const {
    return bits != o.bits ? bits < o.bits : size < o.size;
  }
  bool operator==(const IconEntry& o) const { return size == o.size && bits == o.bits; }
};

std::ostream& operator<<(std::ostream& os, const IconEntry& e) {
  return os << e.size << "x" << e.size << "@" << e.bits;
}

// One RT_ICON image: a header matching its group entry, the palette, the
// colour bits and the AND mask all present, and accepted by the system.
void ExpectIconImage(const Image& image, Reader& group, IconEntry* entry) {
  const int width = group.Read(1), height = group.Read(1), colours = group.Read(1);
  group.Read(1);
  const int planes = group.Word(), bits = group.Word();
  const DWORD bytes = group.Dword();
  const WORD id = group.Word();
  *entry = IconEntry{width == 0 ? 256 : width, bits};
  SCOPED_TRACE(::testing::Message() << "icon " << id << " " << *entry);
  EXPECT_EQ(width, height);
  EXPECT_EQ(planes, 1);
  EXPECT_EQ(colours, bits == 4 ? 16 : 0);
  const Blob icon = image.Find(RT_ICON, id);
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon.size, bytes);
  const BITMAPINFOHEADER h = Header<BITMAPINFOHEADER>(icon);
  EXPECT_EQ(h.biWidth, width);
  EXPECT_EQ(h.biHeight, 2 * height) << "colour bits and mask";
  EXPECT_EQ(h.biBitCount, bits);
  const DWORD palette = bits <= 8 ? 4u << bits : 0;
  const DWORD xorRow = ((width * bits + 31) / 32) * 4, andRow = ((width + 31) / 32) * 4;
  ASSERT_EQ(icon.size, 40 + palette + (xorRow + andRow) * height);
  if (bits == 32) {
    // With every alpha byte zero the system draws the image opaque, on black.
    bool alpha = false;
    for (DWORD at = 40 + 3; at < 40 + xorRow * height; at += 4) alpha |= icon.data[at] != 0;
    EXPECT_TRUE(alpha) << "alpha channel is empty";
  }
  HICON handle = CreateIconFromResourceEx(const_cast<BYTE*>(icon.data), icon.size, TRUE,
                                          0x00030000, width, height, 0);
  EXPECT_NE(handle, nullptr) << "error " << GetLastError();
  if (handle != nullptr) DestroyIcon(handle);
}

TEST_F(ResourcesTest, IconGroupHasSevenImagesInThreeColourDepths) {
  ForEachExe([](const std::string&, const Image& image) {
    const Blob blob = image.Find(RT_GROUP_ICON, IDI_MAINFRAME);
    ASSERT_TRUE(blob);
    Reader group(blob);
    EXPECT_EQ(group.Word(), 0u);
    EXPECT_EQ(group.Word(), 1u) << "icon, not cursor";
    const WORD count = group.Word();
    std::vector<IconEntry> entries(count);
    for (IconEntry& entry : entries) ExpectIconImage(image, group, &entry);
    ASSERT_TRUE(group.Ok()) << "group truncated";
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<IconEntry>{{16, 4}, {32, 4}, {16, 8}, {32, 8},
                                                {16, 32}, {32, 32}, {48, 32}}));
  });
}

// ------------------------------------------------- manifest and version

// The attributes of the first element named tag at or after from.
std::map<std::string, std::string> Attributes(const std::string& xml, const std::string& tag,
                                              size_t from = 0) {
  std::map<std::string, std::string> attrs;
  const size_t start = xml.find("<" + tag + " ", from);
  if (start == std::string::npos) return attrs;
  const size_t end = xml.find('>', start);
  size_t at = start + tag.size() + 2;
  while (at < end) {
    const size_t eq = xml.find("=\"", at);
    const size_t close = eq == std::string::npos ? eq : xml.find('"', eq + 2);
    if (close == std::string::npos || close > end) break;
    std::string name = xml.substr(at, eq - at);
    name.erase(0, name.find_first_not_of(" \t\r\n"));
    attrs[name] = xml.substr(eq + 2, close - eq - 2);
    at = close + 1;
  }
  return attrs;
}

TEST_F(ResourcesTest, ManifestAsksForCommonControlsSixAndNoElevation) {
  ForEachExe([](const std::string&, const Image& image) {
    const Blob blob = image.Find(MAKEINTRESOURCEA(24), 1);
    ASSERT_TRUE(blob);
    const std::string xml(reinterpret_cast<const char*>(blob.data), blob.size);
    using Attrs = std::map<std::string, std::string>;
    EXPECT_EQ(Attributes(xml, "assemblyIdentity"),
              (Attrs{{"name", "Microsoft.Windows.Setup"}, {"version", "1.0.0.0"},
                     {"processorArchitecture", "X86"}, {"type", "win32"}}));
    EXPECT_NE(xml.find("<description>Installer Bootstrap</description>"),
              std::string::npos);
    const size_t dependency = xml.find("<dependentAssembly>");
    ASSERT_NE(dependency, std::string::npos);
    EXPECT_EQ(Attributes(xml, "assemblyIdentity", dependency),
              (Attrs{{"type", "win32"}, {"name", "Microsoft.Windows.Common-Controls"},
                     {"version", "6.0.0.0"}, {"processorArchitecture", "X86"},
                     {"publicKeyToken", "6595b64144ccf1df"}, {"language", "*"}}));
    // An execution level would make newer Windows prompt before the program's
    // own elevated relaunch could decide whether it needs to.
    EXPECT_EQ(xml.find("requestedExecutionLevel"), std::string::npos);
  });
}

// GetProcAddress's generic type to the function's own, through the one
// function pointer type GCC lets any other be cast to and from.
template <typename F>
F Procedure(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The version information as Explorer shows it, through version.dll, which
// the product itself has no need to import.
class VersionInfo {
 public:
  explicit VersionInfo(const std::string& exe) {
    dll_ = LoadLibraryA("version.dll");
    auto size = Procedure<DWORD(WINAPI*)(LPCSTR, LPDWORD)>(dll_, "GetFileVersionInfoSizeA");
    auto read =
        Procedure<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID)>(dll_, "GetFileVersionInfoA");
    query_ = Procedure<Query>(dll_, "VerQueryValueA");
    DWORD ignored = 0;
    data_.resize(size != nullptr ? size(exe.c_str(), &ignored) : 0);
    if (data_.empty() || read == nullptr || query_ == nullptr ||
        !read(exe.c_str(), 0, DWORD(data_.size()), data_.data()))
      data_.clear();
  }
  ~VersionInfo() { FreeLibrary(dll_); }
  VersionInfo(const VersionInfo&) = delete;
  VersionInfo& operator=(const VersionInfo&) = delete;

  bool Loaded() const { return !data_.empty(); }
  Blob Value(const std::string& path) {
    Blob blob;
    void* p = nullptr;
    UINT n = 0;
    if (Loaded() && query_(data_.data(), path.c_str(), &p, &n)) {
      blob.data = static_cast<const BYTE*>(p);
      blob.size = n;
    }
    return blob;
  }
  std::string String(const std::string& table, const std::string& name) {
    Blob b = Value("\\StringFileInfo\\" + table + "\\" + name);
    return b ? std::string(reinterpret_cast<const char*>(b.data)) : "(missing)";
  }

 private:
  using Query = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  HMODULE dll_ = nullptr;
  Query query_ = nullptr;
  std::vector<BYTE> data_;
};

std::string VersionText(DWORD ms, DWORD ls) {
  char text[48];
  wsprintfA(text, "%u.%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls));
  return text;
}

TEST_F(ResourcesTest, VersionInformationNamesTheInstallerAndOneVersion) {
  ForEachExe([](const std::string& exe, const Image&) {
    VersionInfo info(exe);
    ASSERT_TRUE(info.Loaded());
    const VS_FIXEDFILEINFO fixed = Header<VS_FIXEDFILEINFO>(info.Value("\\"));
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(VersionText(fixed.dwFileVersionMS, fixed.dwFileVersionLS), RAVEN_VERSION_TEXT);
    EXPECT_EQ(VersionText(fixed.dwProductVersionMS, fixed.dwProductVersionLS),
              RAVEN_VERSION_TEXT);
    EXPECT_EQ(fixed.dwFileOS, DWORD(VOS__WINDOWS32));
    EXPECT_EQ(fixed.dwFileType, DWORD(VFT_APP));

    const Blob translation = info.Value("\\VarFileInfo\\Translation");
    ASSERT_GE(translation.size, 4u);
    const WORD lang = Header<WORD>(translation);
    EXPECT_TRUE(lang == 0 || lang == 0x409) << lang;
    char table[16];
    wsprintfA(table, "%04x%04x", lang, Header<DWORD>(translation) >> 16);
    const std::map<std::string, std::string> expected = {
        {"FileVersion", RAVEN_VERSION_TEXT},       {"ProductVersion", RAVEN_VERSION_TEXT},
        {"FileDescription", "Ravenstock Installer"}, {"ProductName", "Ravenstock Installer"},
        {"InternalName", "Ravenstock_Setup.exe"},  {"OriginalFilename", "Ravenstock_Setup.exe"},
        {"CompanyName", "Hollin Software"},        {"SupportedLanguages", "en;fr"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(info.String(table, name), value) << name;
  });
}

}  // namespace
