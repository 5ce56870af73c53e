// An in-memory filesystem for the core's tests of directory walks.
#pragma once

#include <cerrno>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/search.hpp"

namespace talvo::core::fake {

// An in-memory tree whose faults are set by the test: entries in listing
// order, links, directories without read or search permission, and counts
// of every call made.
class FakeFileSystem final : public FileSystem {
 public:
  FakeFileSystem() { dirs_["/"]; }

  void dir(const std::string& path) { add(path, EntryType::directory, FileKind::directory); }
  void file(const std::string& path) { add(path, EntryType::regular, FileKind::regular); }
  // A directory entry whose d_type the system does not fill in.
  void untyped_dir(const std::string& path) { add(path, EntryType::unknown, FileKind::directory); }
  void link(const std::string& path, const std::string& target) {
    add(path, EntryType::symlink, FileKind::other);
    kinds_.erase(path);
    links_[path] = target;
  }
  void unreadable(const std::string& path) { unreadable_.insert(path); }
  void unsearchable(const std::string& path) { unsearchable_.insert(path); }

  int stat(const std::string& path, FileKind& kind) override {
    ++stats[path];
    std::string real;
    if (int error = resolve(path, real)) return error;
    auto it = kinds_.find(real);
    if (it == kinds_.end()) return ENOENT;
    kind = it->second;
    return 0;
  }

  int list(const std::string& path, std::vector<DirEntry>& entries) override {
    ++lists[path];
    std::string real;
    if (int error = resolve(path, real)) return error;
    if (unreadable_.count(real)) return EACCES;
    auto it = dirs_.find(real);
    if (it == dirs_.end()) return kinds_.count(real) ? ENOTDIR : ENOENT;
    entries = it->second;
    return 0;
  }

  int identify(const std::string& path, FileId& id) override {
    std::string real;
    if (int error = resolve(path, real)) return error;
    if (real != "/" && !kinds_.count(real)) return ENOENT;
    id = {device_of(real), inodes_.emplace(real, inodes_.size() + 1).first->second};
    return 0;
  }

  // Puts the tree below `path` on a filesystem of its own.
  void mount(const std::string& path, std::uint64_t device) { mounts_[path] = device; }

  std::map<std::string, int> stats, lists;

 private:
  void add(const std::string& path, EntryType type, FileKind kind) {
    std::string parent = parent_path(path);
    dirs_[parent].push_back({path.substr(path.find_last_of('/') + 1), type});
    kinds_[path] = kind;
    if (kind == FileKind::directory) dirs_[path];
  }

  // Follows links component by component; a lookup inside a directory
  // without search permission fails as the system's would.
  int resolve(const std::string& path, std::string& real) const {
    real = "/";
    std::size_t at = 1;
    int hops = 0;
    while (at <= path.size()) {
      std::size_t end = path.find('/', at);
      if (end == std::string::npos) end = path.size();
      std::string name = path.substr(at, end - at);
      at = end + 1;
      if (name.empty()) continue;
      if (unsearchable_.count(real)) return EACCES;
      std::string next = join_path(real, name);
      while (links_.count(next)) {
        if (++hops > 40) return ELOOP;
        next = links_.at(next);
      }
      if (at <= path.size() && kinds_.count(next) && kinds_.at(next) != FileKind::directory)
        return ENOTDIR;
      real = next;
    }
    return 0;
  }

  std::map<std::string, std::vector<DirEntry>> dirs_;
  std::map<std::string, FileKind> kinds_;
  std::map<std::string, std::string> links_;
  std::set<std::string> unreadable_, unsearchable_;
  std::map<std::string, std::uint64_t> inodes_;
  std::map<std::string, std::uint64_t> mounts_;

  std::uint64_t device_of(const std::string& real) const {
    std::uint64_t device = 7;
    std::size_t longest = 0;
    for (const auto& [at, dev] : mounts_) {
      bool below = real == at || (real.rfind(at + "/", 0) == 0);
      if (below && at.size() >= longest) {
        longest = at.size();
        device = dev;
      }
    }
    return device;
  }
};

}  // namespace talvo::core::fake
