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
  FakeFileSystem() {
    dirs_["/"];
    number("/");
  }

  void dir(const std::string& path) { add(path, EntryType::directory, FileKind::directory); }
  void file(const std::string& path) { add(path, EntryType::regular, FileKind::regular); }
  // A directory entry whose d_type the system does not fill in.
  void untyped_dir(const std::string& path) { add(path, EntryType::unknown, FileKind::directory); }
  void link(const std::string& path, const std::string& target) {
    add(path, EntryType::symlink, FileKind::other);
    kinds_.erase(path);
    links_[path] = target;
  }
  // Another filesystem mounted on the directory `path`: it and everything
  // below get inodes of their own, counted from `first_inode` in the order
  // they were made; its parent's listing keeps the inode it covers.
  void mount(const std::string& path, std::uint64_t first_inode) {
    covered_[path] = ids_.at(path).inode;
    ++devices_;
    for (const std::string& p : made_)
      if (p == path || p.rfind(path + "/", 0) == 0) ids_[p] = {devices_, first_inode++};
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
    // As the system's listing does: every entry's own inode (a link's, not
    // its target's; a mount point's covered one), and the directory's in its
    // "." entry.
    for (DirEntry& e : entries) {
      std::string path = join_path(real, e.name);
      auto covered = covered_.find(path);
      e.inode = covered != covered_.end() ? covered->second : ids_.at(path).inode;
    }
    listed_ = ids_.at(real).inode;
    return 0;
  }

  std::uint64_t listed_inode() const override { return listed_; }

  int identify(const std::string& path, FileId& id) override {
    ++identified;
    std::string real;
    if (int error = resolve(path, real)) return error;
    if (real != "/" && !kinds_.count(real)) return ENOENT;
    id = ids_.at(real);
    return 0;
  }

  bool writable_by_all(const std::string& path) override { return shared.count(path) != 0; }

  int identified = 0;
  std::set<std::string> shared;  // directories every user may write in

  std::map<std::string, int> stats, lists;

 private:
  void add(const std::string& path, EntryType type, FileKind kind) {
    std::string parent = parent_path(path);
    dirs_[parent].push_back({path.substr(path.find_last_of('/') + 1), type});
    kinds_[path] = kind;
    number(path);
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
  void number(const std::string& path) {
    made_.push_back(path);
    ids_[path] = {7, made_.size()};
  }

  std::vector<std::string> made_;
  std::map<std::string, FileId> ids_;
  std::map<std::string, std::uint64_t> covered_;
  std::uint64_t devices_ = 7;
  std::uint64_t listed_ = 0;
};

}  // namespace talvo::core::fake
