#include "core/search.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace talvo::core {
namespace {

// Directory names that hold tools or caches rather than a project's files.
constexpr std::string_view kSkippedNames[] = {"node_modules", "venv", "__pycache__"};
constexpr std::string_view kSkippedPart = "-env";

// Failures that pathlib's is_file()/is_dir() report as "no" rather than raise.
bool means_absent(int error) {
  return error == ENOENT || error == ENOTDIR || error == EBADF || error == ELOOP;
}

EntryType entry_type(unsigned char d_type) {
  switch (d_type) {
    case DT_REG: return EntryType::regular;
    case DT_DIR: return EntryType::directory;
    case DT_LNK: return EntryType::symlink;
    case DT_UNKNOWN: return EntryType::unknown;
    default: return EntryType::other;
  }
}

bool plain_name(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find('/') == std::string_view::npos;
}

// Walks through directory handles, as find does: a test or listing inside
// the directory last opened costs a lookup of one name rather than of a
// whole path. The handles of the current chain of directories stay open
// until forget(); a path that is not below them is opened from scratch, and
// any handle that cannot be had falls back to the plain path call, whose
// answer is the same.
class SystemFileSystem final : public FileSystem {
 public:
  ~SystemFileSystem() override { forget(); }

  int stat(const std::string& path, FileKind& kind) override {
    struct ::stat st;
    if (stat_path(path, st) != 0) return errno;
    kind = kind_of(st);
    return 0;
  }

  int stat_at(const std::string& dir, const std::string& name, FileKind& kind) override {
    int fd = open_dir(dir);
    if (fd < 0) return stat(join_path(dir, name), kind);
    struct ::stat st;
    if (::fstatat(fd, name.c_str(), &st, 0) != 0) return errno;
    kind = kind_of(st);
    return 0;
  }

  // The directory is about to be searched, so the handle opened here is the
  // one the file test and the listing use next: all it costs is an fstat().
  int identify(const std::string& path, FileId& id) override {
    struct ::stat st;
    int fd = open_dir(path);
    if ((fd >= 0 ? ::fstat(fd, &st) : stat_path(path, st)) != 0) return errno;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return 0;
  }

  int list(const std::string& path, std::vector<DirEntry>& entries) override {
    listed_inode_ = 0;
    int fd = open_dir(path);
    if (fd < 0) return list_by_path(path, entries);
    Handle& handle = stack_.back();
    if (handle.read && ::lseek(fd, 0, SEEK_SET) != 0) return list_by_path(path, entries);
    handle.read = true;
#ifdef __linux__
    buffer_.resize(32768);
    for (;;) {
      long got = ::syscall(SYS_getdents64, fd, buffer_.data(), buffer_.size());
      if (got < 0) {
        int error = errno;
        entries.clear();
        return error;
      }
      if (got == 0) {
        last_listed_inode_ = listed_inode_;
        return 0;
      }
      std::size_t at = 0;
      while (at < static_cast<std::size_t>(got)) {
        // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name.
        unsigned short reclen;
        std::memcpy(&reclen, buffer_.data() + at + 16, sizeof reclen);
        std::uint64_t inode;
        std::memcpy(&inode, buffer_.data() + at, sizeof inode);
        unsigned char type = static_cast<unsigned char>(buffer_[at + 18]);
        const char* name = buffer_.data() + at + 19;
        if (name[0] == '.' && name[1] == '\0')
          listed_inode_ = inode;
        else if (!(name[0] == '.' && name[1] == '.' && name[2] == '\0'))
          entries.push_back({name, entry_type(type), inode});
        at += reclen;
      }
    }
#else
    return list_by_path(path, entries);
#endif
  }

  std::uint64_t listed_inode() const override { return last_listed_inode_; }

  bool writable_by_all(const std::string& path) override {
    struct ::stat st;
    return stat_path(path, st) == 0 && (st.st_mode & S_IWOTH) != 0;
  }

  void forget() override {
    for (Handle& handle : stack_) ::close(handle.fd);
    stack_.clear();
  }

 private:
  struct Handle {
    std::string path;
    int fd;
    bool read;
  };

  static FileKind kind_of(const struct ::stat& st) {
    return S_ISREG(st.st_mode) ? FileKind::regular
           : S_ISDIR(st.st_mode) ? FileKind::directory
                                 : FileKind::other;
  }

  // Past this many open handles the walk goes on by paths (a deep chain
  // through looping links must not run out of descriptors).
  static constexpr std::size_t kMaxHandles = 128;

  // stat() following links, through the handle of the parent directory
  // where there is one.
  int stat_path(const std::string& path, struct ::stat& st) {
    std::size_t slash = path.find_last_of('/');
    int fd = -1;
    if (slash != std::string::npos && plain_name(std::string_view(path).substr(slash + 1)))
      fd = open_dir(slash == 0 ? std::string_view("/") : std::string_view(path).substr(0, slash));
    if (fd >= 0) return ::fstatat(fd, path.c_str() + slash + 1, &st, 0);
    return ::stat(path.c_str(), &st);
  }

  static bool is_child(const std::string& parent, std::string_view path) {
    if (path.size() <= parent.size() || path.compare(0, parent.size(), parent) != 0) return false;
    std::string_view rest = std::string_view(path).substr(parent.size());
    if (parent.back() != '/') {
      if (rest.front() != '/') return false;
      rest.remove_prefix(1);
    }
    return plain_name(rest);
  }

  // A handle for the directory `path`, or -1.
  int open_dir(std::string_view path) {
    if (path.empty()) return -1;
    while (!stack_.empty()) {
      if (stack_.back().path == path) return stack_.back().fd;
      if (is_child(stack_.back().path, path)) break;
      ::close(stack_.back().fd);
      stack_.pop_back();
    }
    if (stack_.size() >= kMaxHandles) return -1;
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;
    std::string owned(path);
    int fd = stack_.empty()
                 ? ::open(owned.c_str(), flags)
                 : ::openat(stack_.back().fd, owned.c_str() + owned.find_last_of('/') + 1, flags);
    if (fd < 0) return -1;
    stack_.push_back({std::move(owned), fd, false});
    return fd;
  }

  // The fallback gives no inode for the directory itself.
  static int list_by_path(const std::string& path, std::vector<DirEntry>& entries) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return errno;
    int error = 0;
    for (;;) {
      errno = 0;
      const dirent* e = ::readdir(dir);
      if (e == nullptr) {
        error = errno;
        break;
      }
      const char* name = e->d_name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      entries.push_back({name, entry_type(e->d_type), static_cast<std::uint64_t>(e->d_ino)});
    }
    ::closedir(dir);
    // A listing that breaks off lists nothing, as os.listdir() does.
    if (error != 0) entries.clear();
    return error;
  }

  std::vector<Handle> stack_;
  std::vector<char> buffer_;
  std::uint64_t listed_inode_ = 0, last_listed_inode_ = 0;
};

}  // namespace

FileSystem& system_filesystem() {
  static SystemFileSystem fs;
  return fs;
}

FileTestError::FileTestError(int error, std::string path)
    : std::runtime_error(std::strerror(error)), error_(error), path_(std::move(path)) {}

ListingCache::Directory& ListingCache::locate(const std::string& path) {
  FileId id;
  if (fs_.identify(path, id) != 0) return unidentified_[path];
  Directory& d = identified_[id];
  d.id = id;
  return d;
}

ListingCache::Directory& ListingCache::directory(const std::string& path) {
  Directory*& known = roots_[path];
  if (known == nullptr) known = &locate(path);
  return *known;
}

ListingCache::Directory& ListingCache::child(Directory& parent, std::size_t index,
                                             const std::string& path) {
  if (parent.children.size() != parent.entries.size())
    parent.children.assign(parent.entries.size(), nullptr);
  Directory*& known = parent.children[index];
  if (known != nullptr) return *known;
  const DirEntry& entry = parent.entries[index];
  if (entry.type == EntryType::directory && entry.inode != 0 && parent.id.inode != 0) {
    FileId id{parent.id.device, entry.inode};
    known = &identified_[id];
    if (known->id.inode == 0) known->id = id;
  } else {
    known = &locate(path);
  }
  return *known;
}

const DirEntry* ListingCache::entry_named(Directory& d, const std::string& name) {
  // A few names are found faster by looking at each than through a table.
  constexpr std::size_t kScanned = 16;
  if (d.entries.size() <= kScanned) {
    for (const DirEntry& e : d.entries)
      if (e.name == name) return &e;
    return nullptr;
  }
  if (d.index.empty()) {
    d.index.reserve(d.entries.size());
    for (std::size_t i = 0; i < d.entries.size(); ++i) d.index.emplace(d.entries[i].name, i);
  }
  auto at = d.index.find(name);
  return at == d.index.end() ? nullptr : &d.entries[at->second];
}

int ListingCache::stat_in(Directory& d, const std::string& dir, const std::string& name,
                          bool os_style, FileKind& kind) {
  // A listed directory in which a lookup has already worked answers for
  // its own entries; links and entries of unknown type still need stat().
  if (d.searchable && d.listed && d.list_error == 0 && plain_name(name)) {
    const DirEntry* entry = entry_named(d, name);
    if (entry == nullptr) return ENOENT;
    switch (entry->type) {
      case EntryType::regular: kind = FileKind::regular; return 0;
      case EntryType::directory: kind = FileKind::directory; return 0;
      case EntryType::other: kind = FileKind::other; return 0;
      default: break;
    }
  }
  // By any path to the directory the name is the same file.
  for (const Directory::Test& t : d.tests) {
    if (t.name != name) continue;
    kind = t.kind;
    return t.error;
  }
  int error = plain_name(name) && !dir.empty()
                  ? fs_.stat_at(dir, name, kind)
                  : fs_.stat(os_style ? os_join(dir, name) : join_path(dir, name), kind);
  // Reaching the name at all (found, or not there) proves the directory
  // searchable. A failure may come from a link's target, so it proves
  // nothing about the directory.
  if (error == 0 || error == ENOENT) d.searchable = true;
  if (error != 0) kind = FileKind::other;
  d.tests.push_back({name, error, kind});
  return error;
}

int ListingCache::list(Directory& d, const std::string& dir,
                       const std::vector<DirEntry>*& entries, bool& exact) {
  if (!d.listed) {
    d.listed = true;
    d.list_error = fs_.list(dir, d.entries);
    // Entries are on another filesystem than the one the directory's
    // identity came from: a mount point, reached from its parent's entry,
    // whose inode there is not that of the root mounted on it.
    // (A listing that gives no inode of its own proves nothing either way.)
    if (d.list_error == 0 && d.id.inode != 0 && fs_.listed_inode() != d.id.inode) {
      FileId id;
      d.id = fs_.identify(dir, id) == 0 ? id : FileId{0, 0};
    }
  }
  entries = &d.entries;
  exact = d.searchable && d.list_error == 0;
  return d.list_error;
}

bool skipped_directory(std::string_view name) {
  for (std::string_view skipped : kSkippedNames)
    if (name == skipped) return true;
  return name.find(kSkippedPart) != std::string_view::npos;
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  std::string path;
  path.reserve(dir.size() + 1 + name.size());
  path.append(dir).push_back('/');
  path.append(name);
  return path;
}

std::string_view base_name(std::string_view path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string parent_path(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  std::size_t end = slash;
  while (end > 0 && path[end - 1] == '/') --end;
  if (end == 0) return path.substr(0, slash + 1);
  return path.substr(0, end);
}

std::string os_join(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

namespace {

// One search: the name it looks for, how deep it goes, and its number in the
// cache, which marks the directories it has entered.
struct Walk {
  ListingCache& cache;
  const std::string& filename;
  long long max_depth;
  std::uint64_t search;
};

// Whether the walk enters `d` at `depth`. Not when it has entered it before
// with at least as many levels left below: that visit found nothing, or the
// search would be over, and with fewer levels there is no more to find. A
// path that loops back to a directory being searched is always longer, so a
// loop is never followed round.
bool enter(const Walk& w, ListingCache::Directory& d, long long depth) {
  long long left = w.max_depth - depth;
  if (d.search == w.search && d.levels_left >= left) return false;
  d.search = w.search;
  d.levels_left = left;
  d.failed_test = 0;
  return true;
}

std::optional<std::string> search_down_at(const Walk& w, ListingCache::Directory& d,
                                          const std::string& root, long long depth) {
  if (depth > w.max_depth) return std::nullopt;
  if (!enter(w, d, depth)) {
    // A file test that failed there fails by any path, and tells the
    // parent the same.
    if (d.failed_test != 0) throw FileTestError(d.failed_test, join_path(root, w.filename));
    return std::nullopt;
  }
  FileKind kind;
  int error = w.cache.stat_in(d, root, w.filename, false, kind);
  if (error == 0) {
    if (kind == FileKind::regular) return join_path(root, w.filename);
  } else if (!means_absent(error)) {
    d.failed_test = error;
    throw FileTestError(error, join_path(root, w.filename));
  }

  const std::vector<DirEntry>* entries = nullptr;
  bool exact = false;
  if (w.cache.list(d, root, entries, exact) != 0) return std::nullopt;
  try {
    for (std::size_t i = 0; i < entries->size(); ++i) {
      const DirEntry& entry = (*entries)[i];
      if (!(exact && entry.type == EntryType::directory)) {
        if (exact && (entry.type == EntryType::regular || entry.type == EntryType::other))
          continue;
        error = w.cache.stat_in(d, root, entry.name, false, kind);
        // A failing directory test ends this directory's listing.
        if (error != 0 && !means_absent(error)) return std::nullopt;
        if (error != 0 || kind != FileKind::directory) continue;
      }
      if (skipped_directory(entry.name)) continue;
      std::string item = join_path(root, entry.name);
      ListingCache::Directory& sub = w.cache.child(d, i, item);
      if (auto found = search_down_at(w, sub, item, depth + 1)) return found;
    }
  } catch (const FileTestError&) {
    // The file test of a subdirectory failed: this directory yields nothing,
    // and the caller goes on with its next entry.
  }
  return std::nullopt;
}

std::optional<std::string> search_directory_at(const Walk& w, ListingCache::Directory& d,
                                               const std::string& path, long long depth) {
  if (depth > w.max_depth || !enter(w, d, depth)) return std::nullopt;
  FileKind kind;
  if (w.cache.stat_in(d, path, w.filename, true, kind) == 0 && kind == FileKind::regular)
    return os_join(path, w.filename);

  const std::vector<DirEntry>* entries = nullptr;
  bool exact = false;
  if (w.cache.list(d, path, entries, exact) != 0) return std::nullopt;
  for (std::size_t i = 0; i < entries->size(); ++i) {
    const DirEntry& entry = (*entries)[i];
    if (!(exact && entry.type == EntryType::directory)) {
      if (exact && (entry.type == EntryType::regular || entry.type == EntryType::other))
        continue;
      if (w.cache.stat_in(d, path, entry.name, true, kind) != 0 || kind != FileKind::directory)
        continue;
    }
    if (skipped_directory(entry.name)) continue;
    std::string item = os_join(path, entry.name);
    ListingCache::Directory& sub = w.cache.child(d, i, item);
    auto found = search_directory_at(w, sub, item, depth + 1);
    if (found && !found->empty()) return found;
  }
  return std::nullopt;
}

// Below a negative limit nothing is looked at, the start directory included.
std::optional<std::string> search_down_from(const Walk& w, const std::string& root) {
  if (w.max_depth < 0) return std::nullopt;
  return search_down_at(w, w.cache.directory(root), root, 0);
}

}  // namespace

std::optional<std::string> search_down(ListingCache& cache, const std::string& root,
                                       long long max_depth, const std::string& filename) {
  return search_down_from({cache, filename, max_depth, cache.begin_search()}, root);
}

std::optional<std::string> search_directory(ListingCache& cache, const std::string& path,
                                            long long max_depth, const std::string& filename) {
  if (max_depth < 0) return std::nullopt;
  Walk w{cache, filename, max_depth, cache.begin_search()};
  return search_directory_at(w, cache.directory(path), path, 0);
}

// The scans from the ancestors are one search with the first: each reaches
// the start directory's subtree again, deeper, where the first scan has
// already found nothing.
std::optional<std::string> find_upward(ListingCache& cache, const std::string& start,
                                       long long max_depth_up, long long max_depth_down,
                                       const std::string& filename, SearchObserver& observer) {
  Walk w{cache, filename, max_depth_down, cache.begin_search()};
  auto result = search_down_from(w, start);
  observer.down_result(0, result);
  if (result || max_depth_up <= 0) return result;

  std::string current = parent_path(start);
  observer.ancestors(current, parent_path(current));
  for (long long depth = 0; current != parent_path(current) && depth <= max_depth_up; ++depth) {
    result = search_down_from(w, current);
    observer.down_result(1, result);
    if (result) return result;
    current = parent_path(current);
  }
  return std::nullopt;
}

}  // namespace talvo::core
