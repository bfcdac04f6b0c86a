#include "payload/archive_order.h"

#include <algorithm>
#include <set>

namespace archive {

namespace {

std::vector<std::string> Components(const std::string& name) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    size_t end = name.find_first_of("/\\", begin);
    if (end == std::string::npos) {
      parts.push_back(name.substr(begin));
      return parts;
    }
    parts.push_back(name.substr(begin, end - begin));
    begin = end + 1;
  }
}

// Windows compares file names without regard to (ASCII) case.
std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string ParentOf(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

// Pre-order walk: within a folder its files (by name), then its sub-folders.
bool WalkBefore(const std::string& a, const std::string& b) {
  std::vector<std::string> pa = Components(a), pb = Components(b);
  size_t n = std::min(pa.size(), pb.size());
  for (size_t i = 0; i < n; ++i) {
    if (pa[i] == pb[i]) continue;
    bool aFile = i + 1 == pa.size(), bFile = i + 1 == pb.size();
    if (aFile != bFile) return aFile;
    return pa[i] < pb[i];
  }
  return pa.size() < pb.size();
}

bool NoCaseDuplicates(const std::vector<std::string>& names, std::string* why) {
  std::set<std::string> seen;
  for (const std::string& name : names) {
    if (!seen.insert(Folded(name)).second) {
      if (why != nullptr) *why = "\"" + name + "\" names the same file as another entry on Windows";
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsExtractableOrder(const std::vector<std::string>& names, std::string* why) {
  std::set<std::string> made = {std::string()};
  for (const std::string& name : names) {
    std::string parent = Folded(ParentOf(name));
    if (parent.empty() || made.count(parent) != 0) continue;
    std::string grandparent = ParentOf(parent);
    if (made.count(grandparent) == 0) {
      if (why != nullptr)
        *why = "\"" + name + "\" needs folder \"" + ParentOf(ParentOf(name)) +
               "\" to exist, but no earlier file lies directly in it";
      return false;
    }
    made.insert(parent);
  }
  return true;
}

bool OrderForExtraction(std::vector<std::string>* names, std::string* why) {
  std::sort(names->begin(), names->end(), WalkBefore);
  return NoCaseDuplicates(*names, why) && IsExtractableOrder(*names, why);
}

}  // namespace archive
