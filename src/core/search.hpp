// Searches for a settings file in the directory tree around a start
// directory, on byte paths, through a replaceable filesystem.
//
// Two flavours with different error rules: `search_down` (pathlib-style
// tests: a failing file test is an error that abandons the parent's listing)
// and `search_directory` (os.path-style tests: every failure means "no").
//
// Links to directories are followed, so one directory can be reached by
// many paths, and a link to an ancestor (or /proc/self) by endless ones.
// A search enters a directory, known by device and inode, only when it gets
// there with more levels left below it than before. A loop always comes back
// deeper, so it costs nothing and the path found never goes round one; on a
// tree without loops the results stay those of a walk that tries every path.
// The identity costs nothing for a directory reached from its parent's
// entry: the listing gives its inode, and its parent's device is its own
// unless it is a mount point, which its own listing then shows. Only the
// directories searches start from and those reached through links (or
// entries of unknown type) are looked at with a system call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talvo::core {

// Path arithmetic on absolute normalised paths, as pathlib does it:
// dir + "/" + name.
std::string join_path(const std::string& dir, const std::string& name);

// What a stat() following symbolic links found.
enum class FileKind : std::uint8_t { regular, directory, other };

// d_type of a listing entry, as far as the listing tells it.
enum class EntryType : std::uint8_t { unknown, regular, directory, symlink, other };

struct DirEntry {
  std::string name;
  EntryType type;
  std::uint64_t inode = 0;  // d_ino, 0 when the listing does not give it
};

// Where a directory is, whatever path leads there.
struct FileId {
  std::uint64_t device;
  std::uint64_t inode;
  bool operator==(const FileId&) const = default;
};

// The few system calls the searches make. Tests substitute their own to
// reach failures that a privileged process never sees.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // stat() following symbolic links: 0 and `kind`, or the errno value.
  virtual int stat(const std::string& path, FileKind& kind) = 0;
  // stat() of the plain name `name` inside the directory `dir`.
  virtual int stat_at(const std::string& dir, const std::string& name, FileKind& kind) {
    return stat(join_path(dir, name), kind);
  }
  // The names of `path` in the order the system lists them, without "." and
  // "..": 0 and `entries`, or the errno value (nothing is listed then).
  virtual int list(const std::string& path, std::vector<DirEntry>& entries) = 0;
  // The identity of the directory `path` (stat() following symbolic links):
  // 0 and `id`, or the errno value.
  virtual int identify(const std::string& path, FileId& id) = 0;
  // The inode the last listing that worked gave for the directory itself
  // (its "." entry); 0 when unknown.
  virtual std::uint64_t listed_inode() const { return 0; }
  // Whether every user may write in the directory `path` (/tmp, /var/tmp):
  // what lies there is anybody's, nobody's project.
  virtual bool writable_by_all(const std::string& /*path*/) { return false; }
  // Drops whatever the implementation keeps between calls (open directory
  // handles), so that later calls see the filesystem afresh.
  virtual void forget() {}
};

// The real filesystem (stat, opendir/readdir).
FileSystem& system_filesystem();

// A file test failed in a way that is neither "absent" nor "not a file".
class FileTestError : public std::runtime_error {
 public:
  FileTestError(int error, std::string path);
  int error() const noexcept { return error_; }
  const std::string& path() const noexcept { return path_; }

 private:
  int error_;
  std::string path_;
};

// Listings and file tests, each made at most once while the cache lives.
// Answers are exactly those the system calls would give: a file test inside
// a directory is derived from its listing only once a real lookup has shown
// the directory searchable, and only where the entry's type is known.
class ListingCache {
 public:
  // What the cache knows of one directory (one device and inode, whatever
  // the path), found by a path once and then reached from its parent's
  // entries without further lookups.
  struct Directory {
    bool listed = false;
    int list_error = 0;
    // Lookups inside proved to work (a name was found, or found missing).
    bool searchable = false;
    std::vector<DirEntry> entries;
    // name -> entry, made the first time a name is looked for among many.
    std::unordered_map<std::string, std::size_t> index;
    std::vector<Directory*> children;  // per entry, once reached
    // Its identity, where it is known (inode 0: not known); device is that
    // of the filesystem the directory's entries are on.
    FileId id{0, 0};

    // Names looked up inside it that its listing did not answer.
    struct Test {
      std::string name;
      int error;
      FileKind kind;
    };
    std::vector<Test> tests;

    // The last search that entered it, the levels it had left below it
    // then, and the errno of its failing file test (0: none failed).
    std::uint64_t search = 0;
    long long levels_left = 0;
    int failed_test = 0;
  };

  explicit ListingCache(FileSystem& fs) : fs_(fs) {}
  ~ListingCache() { fs_.forget(); }
  ListingCache(const ListingCache&) = delete;
  ListingCache& operator=(const ListingCache&) = delete;

  // The directory at `path`; one whose identity cannot be had stands for
  // its path alone.
  Directory& directory(const std::string& path);
  bool writable_by_all(const std::string& path) { return fs_.writable_by_all(path); }
  // The directory of `parent`'s entry `index`, whose path is `path`.
  Directory& child(Directory& parent, std::size_t index, const std::string& path);
  // A number for a new search, to tell its visits from earlier ones.
  std::uint64_t begin_search() { return ++searches_; }

  // stat() of `name` inside `d`, the directory at `dir`; `os_style` joins
  // the path as os.path.join does rather than pathlib.
  int stat_in(Directory& d, const std::string& dir, const std::string& name, bool os_style,
              FileKind& kind);
  // The listing of `d` at `dir`, or its errno value (entries then empty).
  // `exact` tells whether the entries' types answer the file tests inside.
  int list(Directory& d, const std::string& dir, const std::vector<DirEntry>*& entries,
           bool& exact);

 private:
  struct FileIdHash {
    std::size_t operator()(const FileId& id) const noexcept {
      return std::hash<std::uint64_t>()(id.inode * 0x9E3779B97F4A7C15ull ^ id.device);
    }
  };

  Directory& locate(const std::string& path);
  // The entry `name` of a listed directory, or nullptr.
  static const DirEntry* entry_named(Directory& d, const std::string& name);

  FileSystem& fs_;
  std::unordered_map<std::string, Directory*> roots_;  // by the paths searches start from
  std::unordered_map<FileId, Directory, FileIdHash> identified_;
  std::unordered_map<std::string, Directory> unidentified_;
  std::uint64_t searches_ = 0;
};

// True for directory names that no search enters.
bool skipped_directory(std::string_view name);

// The directory a path lies in, as pathlib gives it.
std::string parent_path(const std::string& path);
// What follows the last slash.
std::string_view base_name(std::string_view path);
// os.path.join(dir, name) for text paths given as they are.
std::string os_join(const std::string& dir, const std::string& name);

// Downward scan from `root` (depth 0) to `max_depth` inclusive. Throws
// FileTestError when the file test at `root` itself fails.
std::optional<std::string> search_down(ListingCache& cache, const std::string& root,
                                       long long max_depth, const std::string& filename);

// Downward scan where every failure means "not there".
std::optional<std::string> search_directory(ListingCache& cache, const std::string& path,
                                            long long max_depth, const std::string& filename);

// Receives the progress of `find_upward`, so the caller can log it.
class SearchObserver {
 public:
  virtual ~SearchObserver() = default;
  // phase 0: the start directory; 1: an ancestor.
  virtual void down_result(int /*phase*/, const std::optional<std::string>& /*result*/) {}
  virtual void ancestors(const std::string& /*current*/, const std::string& /*parent*/) {}
};

// The downward scan of `start` (absolute, resolved), then, when that finds
// nothing and `max_depth_up` > 0, of each ancestor below the root, at most
// `max_depth_up` + 1 of them.
std::optional<std::string> find_upward(ListingCache& cache, const std::string& start,
                                       long long max_depth_up, long long max_depth_down,
                                       const std::string& filename, SearchObserver& observer);

}  // namespace talvo::core
