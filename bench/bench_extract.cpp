// Extraction benchmark: a payload shaped like the shipped one (25 entries,
// about 11.7 MB inflated and 3.3 MB compressed, mixed compressibility) is
// read through the archive reader and written file by file, each flushed to
// disk as the bootstrapper does; the baseline in the same run only inflates
// the same stream and writes the same bytes as one file. Prints times, the
// ratio and the peak memory of each, measured in a child process each.
//
//   bench_extract [WORK_DIR] [ROUNDS]
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "payload/archive_format.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 11);
  }
};

// Machine code and resources: runs of zeros and repeats among random bytes.
Bytes Binary(Rng& rng, size_t size) {
  Bytes b;
  b.reserve(size);
  while (b.size() < size) {
    uint32_t r = rng.Next();
    size_t run = 8 + r % 56;
    if (r % 4 == 0) {
      b.insert(b.end(), run, 0);
    } else if (r % 4 != 3 && b.size() > 4096) {
      size_t from = b.size() - 64 - (r >> 8) % 4000;
      for (size_t i = 0; i < run; ++i) b.push_back(b[from + i]);
    } else {
      for (size_t i = 0; i < run / 2; ++i) b.push_back(static_cast<unsigned char>(rng.Next()));
    }
  }
  b.resize(size);
  return b;
}

Bytes Text(Rng& rng, size_t size) {
  static const char* words[] = {"Ravenstock", "setup", "install", "the", "of", "file",
                                "<entry", "name=", "value=", "/>", "culture", "fr",
                                "resources", "assembly", "version", "1.0.0.1", "\r\n"};
  Bytes b;
  while (b.size() < size) {
    const char* w = words[rng.Next() % (sizeof words / sizeof *words)];
    b.insert(b.end(), w, w + std::strlen(w));
    b.push_back(' ');
  }
  b.resize(size);
  return b;
}

Bytes Random(Rng& rng, size_t size) {
  Bytes b(size);
  for (unsigned char& c : b) c = static_cast<unsigned char>(rng.Next());
  return b;
}

std::vector<archive::PackEntry> ShippedShape() {
  Rng rng;
  std::vector<archive::PackEntry> entries;
  entries.push_back({"setup.exe", Binary(rng, 2600000)});
  for (int i = 0; i < 8; ++i)
    entries.push_back({"lib" + std::to_string(i) + ".dll", Binary(rng, 700000 + 40000 * i)});
  for (int i = 0; i < 8; ++i)
    entries.push_back({"fr/lib" + std::to_string(i) + ".resources.dll", Binary(rng, 120000 + 9000 * i)});
  entries.push_back({"ravenstock.xml", Text(rng, 60000)});
  entries.push_back({"readme.txt", Text(rng, 25000)});
  entries.push_back({"ravenstock.url", Text(rng, 120)});
  entries.push_back({"banner.jpg", Random(rng, 420000)});
  for (int i = 0; i < 4; ++i)
    entries.push_back({"doc" + std::to_string(i) + ".chm", Random(rng, 110000 + 30000 * i)});
  return entries;
}

void WriteFile(const std::string& path, const unsigned char* data, size_t size, bool flush) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) { std::perror(path.c_str()); std::exit(1); }
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) { std::perror("write"); std::exit(1); }
    data += n;
    size -= static_cast<size_t>(n);
  }
  if (flush) fsync(fd);
  close(fd);
}

void Extract(const Bytes& resource, const std::string& dir, bool flush) {
  archive::Inflated inflated;
  archive::Table table;
  if (!archive::ReadArchive(resource.data(), resource.size(), &inflated, &table).ok()) std::exit(1);
  for (const archive::Entry& e : table.entries) {
    std::string path = dir + "/" + e.name;
    mkdir(path.substr(0, path.find_last_of('/')).c_str(), 0755);
    WriteFile(path, inflated.bytes.get() + e.offset, e.size, flush);
  }
}

void Baseline(const Bytes& resource, const std::string& dir, bool flush) {
  uLongf size = resource[4] | resource[5] << 8 | resource[6] << 16 | uLongf(resource[7]) << 24;
  uLong stream = resource[8] | resource[9] << 8 | resource[10] << 16 | uLong(resource[11]) << 24;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
  if (uncompress(buffer.get(), &size, resource.data() + 12, stream) != Z_OK) std::exit(1);
  WriteFile(dir + "/all.bin", buffer.get(), size, flush);
}

long StatusKb(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr)
    if (std::strncmp(line, field, std::strlen(field)) == 0) kb = std::atol(line + std::strlen(field));
  if (f != nullptr) std::fclose(f);
  return kb;
}

struct Result {
  double seconds;
  long peakKb;  // growth of the resident set during the run
};

// Runs one round in a child so each has its own high-water mark.
Result Measure(void (*run)(const Bytes&, const std::string&, bool), const Bytes& resource,
               const std::string& dir, bool flush) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  int pipefd[2];
  if (pipe(pipefd) != 0) std::exit(1);
  pid_t pid = fork();
  if (pid == 0) {
    FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (reset != nullptr) { std::fputs("5", reset); std::fclose(reset); }
    long before = StatusKb("VmRSS:");
    auto start = std::chrono::steady_clock::now();
    run(resource, dir, flush);
    Result r{std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
             StatusKb("VmHWM:") - before};
    if (write(pipefd[1], &r, sizeof r) != sizeof r) _exit(1);
    _exit(0);
  }
  Result r{};
  if (read(pipefd[0], &r, sizeof r) != sizeof r) std::exit(1);
  waitpid(pid, nullptr, 0);
  close(pipefd[0]);
  close(pipefd[1]);
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Compare(const Bytes& resource, const std::string& dir, int rounds, bool flush) {
  std::vector<double> reader, baseline;
  long readerPeak = 0, baselinePeak = 0;
  for (int i = 0; i < rounds; ++i) {
    Result a = Measure(Extract, resource, dir, flush);
    Result b = Measure(Baseline, resource, dir, flush);
    reader.push_back(a.seconds);
    baseline.push_back(b.seconds);
    readerPeak = std::max(readerPeak, a.peakKb);
    baselinePeak = std::max(baselinePeak, b.peakKb);
  }
  double r = Median(reader), b = Median(baseline);
  std::printf("%s: reader %.1f ms, baseline %.1f ms, ratio %.3f (goal <= 1.15)\n",
              flush ? "files flushed to disk" : "no flush (page cache)", r * 1e3, b * 1e3, r / b);
  std::printf("  peak resident growth: reader %.2f MB, baseline %.2f MB\n", readerPeak * 1024 / 1e6,
              baselinePeak * 1024 / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "bench-extract.tmp";
  int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
  std::vector<archive::PackEntry> entries = ShippedShape();
  Bytes table = archive::BuildTable(entries, 0);
  Bytes resource = archive::CompressTable(table);
  entries.clear();
  entries.shrink_to_fit();
  // Decimal megabytes throughout.
  double inflatedMb = table.size() / 1e6, compressedMb = resource.size() / 1e6;
  table = Bytes();
  std::printf("payload: 25 entries, %.2f MB inflated, %.2f MB compressed; %d rounds, median\n",
              inflatedMb, compressedMb, rounds);
  Compare(resource, dir, rounds, true);
  Compare(resource, dir, rounds, false);
  std::printf("memory goal: peak <= compressed + inflated + 2 MB = %.2f MB; the reader holds\n"
              "  the resource (%.2f MB, mapped before the run) plus its growth above\n",
              compressedMb + inflatedMb + 2, compressedMb);
  std::filesystem::remove_all(dir);
  return 0;
}
