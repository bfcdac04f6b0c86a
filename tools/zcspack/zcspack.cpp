// zcspack: packs a folder into a payload archive, lists one, verifies one.
//
//   zcspack pack --launch NAME -o OUT DIR
//   zcspack list FILE
//   zcspack verify FILE
//
// Exit codes: 0 success, 1 refused or invalid, 2 usage or a file name
// beyond printable ASCII (the folder to pack must be fixed by hand).
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/archive_order.h"

namespace fs = std::filesystem;

namespace {

struct Refusal {
  std::string text;
  int status;
};

[[noreturn]] void Refuse(const std::string& text, int status = 1) { throw Refusal{text, status}; }

// The name with every byte outside printable ASCII as \xNN, so that the
// message shows which bytes are meant whatever the terminal's encoding.
std::string Escaped(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    char hex[5];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return out;
}

std::vector<unsigned char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Refuse("cannot read " + path.string());
  std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  if (in.bad()) Refuse("cannot read " + path.string());
  return data;
}

void CheckPackableName(const std::string& name) {
  // Names are stored as the build machine's bytes (UTF-8 here) and used as
  // ANSI text by the setup program: beyond printable ASCII a name reads
  // differently, or cannot be written, on the users' code pages.
  for (unsigned char c : name)
    if (c < 0x20 || c >= 0x7F)
      Refuse("\"" + Escaped(name) + "\": a name beyond printable ASCII reads differently on "
             "other code pages; rename it", 2);
  if (name.find('\\') != std::string::npos)
    Refuse("\"" + name + "\": a backslash would be read as a folder separator");
  std::string why;
  if (!archive::IsSafeName(name, &why))
    Refuse("\"" + name + "\": the setup program would refuse this name (" + why + ")");
}

// Every regular file below root, by relative name with "/" separators.
std::map<std::string, fs::path> CollectFiles(const fs::path& root) {
  if (!fs::is_directory(root)) Refuse("not a folder: " + root.string());
  std::map<std::string, fs::path> files;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
    const fs::directory_entry& e = *it;
    std::string name = e.path().lexically_relative(root).generic_string();
    if (e.is_symlink() && e.is_directory())
      Refuse("\"" + name + "\": links to folders are not followed");
    if (e.is_directory()) {
      if (fs::is_empty(e.path()))
        std::fprintf(stderr, "zcspack: note: empty folder \"%s\" is not packed\n", name.c_str());
      continue;
    }
    if (!e.is_regular_file()) Refuse("\"" + name + "\" is not a regular file");
    CheckPackableName(name);
    files[name] = e.path();
  }
  return files;
}

void WriteAll(const fs::path& out, const std::vector<unsigned char>& bytes) {
  // Write beside the target and rename, so a failed run leaves no half file.
  fs::path temp = out;
  temp += ".part";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    f.close();
    if (!f) {
      std::error_code ec;
      fs::remove(temp, ec);
      Refuse("cannot write " + out.string());
    }
  }
  fs::rename(temp, out);
}

std::vector<std::string> Keys(const std::map<std::string, fs::path>& files) {
  std::vector<std::string> names;
  for (const auto& f : files) names.push_back(f.first);
  return names;
}

int Pack(const std::string& launch, const std::string& out, const std::string& dir) {
  std::map<std::string, fs::path> files = CollectFiles(dir);
  if (files.empty()) Refuse("no files below " + dir);
  std::vector<std::string> names = Keys(files);
  std::string why;
  if (!archive::OrderForExtraction(&names, &why)) Refuse(why);
  std::vector<archive::PackEntry> entries;
  uint32_t launchIndex = 0;
  bool found = false;
  for (const std::string& name : names) {
    if (name == launch) {
      launchIndex = static_cast<uint32_t>(entries.size());
      found = true;
    }
    entries.push_back({name, ReadAll(files[name])});
  }
  if (!found) Refuse("the launch entry \"" + launch + "\" is not a file below " + dir);
  std::vector<unsigned char> table = archive::BuildTable(entries, launchIndex);
  // A fixed level (zlib's default, so the stream still starts 78 9C): the
  // same files always pack to the same bytes, whatever zlib's default.
  const int kZlibLevel = 6;
  std::vector<unsigned char> packed = archive::CompressTable(table, kZlibLevel);
  WriteAll(out, packed);
  std::printf("zcspack: %zu files, %zu bytes, %zu compressed, launch \"%s\" -> %s\n",
              entries.size(), table.size(), packed.size(), launch.c_str(), out.c_str());
  return 0;
}

// Reads FILE as the bootstrapper would; prints the reason and returns false
// when it would refuse it.
bool Load(const std::string& file, std::vector<unsigned char>* bytes,
          archive::Inflated* inflated, archive::Table* table) {
  *bytes = ReadAll(file);
  archive::Verdict v;
  try {
    v = archive::ReadArchive(bytes->data(), bytes->size(), inflated, table);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: invalid: the announced table size cannot be allocated\n", file.c_str());
    return false;
  }
  if (!v.ok()) std::fprintf(stderr, "%s: invalid: %s\n", file.c_str(), v.Message().c_str());
  return v.ok();
}

int List(const std::string& file) {
  std::vector<unsigned char> bytes;
  archive::Inflated inflated;
  archive::Table table;
  if (!Load(file, &bytes, &inflated, &table)) return 1;
  for (size_t i = 0; i < table.entries.size(); ++i) {
    const archive::Entry& e = table.entries[i];
    std::printf("%10u  %s%s\n", e.size, e.name.c_str(),
                i == table.launchIndex ? "  (launch)" : "");
  }
  std::printf("%zu entries, %zu bytes inflated, %zu bytes in the file\n",
              table.entries.size(), inflated.size, bytes.size());
  return 0;
}

int Verify(const std::string& file) {
  std::vector<unsigned char> bytes;
  archive::Inflated inflated;
  archive::Table table;
  if (!Load(file, &bytes, &inflated, &table)) return 1;
  std::vector<std::string> names;
  for (const archive::Entry& e : table.entries) names.push_back(e.name);
  std::string why;
  if (!archive::IsExtractableOrder(names, &why)) {
    std::fprintf(stderr, "%s: invalid: extraction would fail: %s\n", file.c_str(), why.c_str());
    return 1;
  }
  std::printf("%s: valid, %zu entries, launch \"%s\"\n", file.c_str(), table.entries.size(),
              table.entries[table.launchIndex].name.c_str());
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: zcspack pack --launch NAME -o OUT DIR\n"
               "       zcspack list FILE\n"
               "       zcspack verify FILE\n");
  return 2;
}

int RunPack(int argc, char** argv) {
  std::string launch, out, dir;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--launch" && i + 1 < argc) launch = argv[++i];
    else if (arg == "-o" && i + 1 < argc) out = argv[++i];
    else if (dir.empty() && !arg.empty() && arg[0] != '-') dir = arg;
    else return Usage();
  }
  if (launch.empty() || out.empty() || dir.empty()) return Usage();
  return Pack(launch, out, dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string command = argv[1];
  try {
    if (command == "pack") return RunPack(argc, argv);
    if (argc != 3) return Usage();
    if (command == "list") return List(argv[2]);
    if (command == "verify") return Verify(argv[2]);
  } catch (const Refusal& r) {
    std::fprintf(stderr, "zcspack: %s\n", r.text.c_str());
    return r.status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zcspack: %s\n", e.what());
    return 1;
  }
  return Usage();
}
