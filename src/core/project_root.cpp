#include "core/project_root.hpp"

#include <algorithm>
#include <set>

#include "core/project_documents.hpp"
#include "core/search.hpp"
#include "core/vocabulary.hpp"

namespace talvo::core {

namespace {

// Directories below the working directory that hold examples, tests,
// documentation or build output, never the project's own settings.
constexpr std::string_view kNotSettingsFolders[] = {
    "test",     "tests",    "__tests__", "e2e",   "fixtures",
    "fixture",  "testdata", "example", "examples", "sample",   "samples", "docs",
    "doc",      "vendor",   "third_party", "dist", "build",    "target", "out",
    "coverage", ".git",     ".hg",     ".svn",    ".venv",     ".tox",   ".cache",
};

// Fixed places of settings files, relative to a project's directory.
constexpr std::string_view kSettingsSubdirectories[] = {
    "config",   "config/environments", "config/env", "configs", "conf", "custom/conf",
    "src/main/resources", "prisma", "supabase", "configuration", "settings",
    // configs/ as Go's common layout keeps it; config/environments/ as Amber
    // and Lucky keep a file per environment
};

// Folders of env files per environment, as cookiecutter-django writes them.
constexpr std::string_view kEnvFolderSpellings[] = {"local", "development", "dev", "production",
                                                    "prod", "staging", "test"};

bool not_settings_folder(std::string_view name) {
  for (std::string_view n : kNotSettingsFolders)
    if (name == n) return true;
  return false;
}

std::vector<std::string> subdirectories(ListingCache& cache, const std::string& dir, bool strict) {
  std::vector<std::string> out;
  ListingCache::Directory& d = cache.directory(dir);
  const std::vector<DirEntry>* entries = nullptr;
  bool exact = false;
  if (cache.list(d, dir, entries, exact) != 0) return out;
  for (const DirEntry& entry : *entries) {
    if (skipped_directory(entry.name) || (strict && not_settings_folder(entry.name))) continue;
    bool is_dir = exact && entry.type == EntryType::directory;
    if (!is_dir && !(exact && (entry.type == EntryType::regular || entry.type == EntryType::other))) {
      FileKind kind;
      is_dir = cache.stat_in(d, dir, entry.name, false, kind) == 0 && kind == FileKind::directory;
    }
    if (is_dir) out.push_back(entry.name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// `root` and its subdirectories, level by level, down to `down`. Links
// make one directory reachable by many paths (and a loop by endless ones):
// each directory comes once, by the first path that reaches it.
void add_subtree(ListingCache& cache, const std::string& root, long long down, bool strict,
                 std::vector<std::string>& order, std::set<const void*>& seen,
                 const std::string& avoid = {}) {
  if (!seen.insert(&cache.directory(root)).second) return;
  order.push_back(root);
  std::vector<std::string> level{root};
  for (long long depth = 0; depth < down && !level.empty(); ++depth) {
    std::vector<std::string> next;
    for (const std::string& dir : level) {
      for (const std::string& name : subdirectories(cache, dir, strict)) {
        std::string child = join_path(dir, name);
        if (child == avoid || !seen.insert(&cache.directory(child)).second) continue;
        order.push_back(child);
        next.push_back(std::move(child));
      }
    }
    level = std::move(next);
  }
}

bool exists_in(ListingCache& cache, const std::string& dir, std::string_view name, FileKind& kind) {
  ListingCache::Directory& d = cache.directory(dir);
  return cache.stat_in(d, dir, std::string(name), false, kind) == 0;
}

bool under_version_control(ListingCache& cache, const std::string& dir) {
  for (std::string_view marker : version_control_markers) {
    FileKind kind;
    // A worktree's or a submodule's .git is a file naming the real one.
    if (exists_in(cache, dir, marker, kind) &&
        (kind == FileKind::directory || (marker == ".git" && kind == FileKind::regular)))
      return true;
  }
  return false;
}

bool same_device(ListingCache& cache, const std::string& a, const std::string& b) {
  ListingCache::Directory& da = cache.directory(a);
  ListingCache::Directory& db = cache.directory(b);
  bool known_a = da.id.inode != 0, known_b = db.id.inode != 0;
  if (!known_a || !known_b) return known_a == known_b;
  return da.id.device == db.id.device;
}

}  // namespace

const std::vector<std::string_view> version_control_markers{".git", ".hg", ".svn"};

std::vector<std::string> settings_subdirectories(std::string_view mode) {
  std::vector<std::string> out(std::begin(kSettingsSubdirectories), std::end(kSettingsSubdirectories));
  for (std::string_view spelling : kEnvFolderSpellings)
    if (same_environment(spelling, mode)) out.push_back(".envs/." + std::string(spelling));
  return out;
}

bool holds_settings_file(ListingCache& cache, const std::string& dir, std::string_view mode) {
  if (!directory_documents(cache, dir, mode, false).empty()) return true;
  for (std::string_view folder : {"src/main/resources", "prisma", ".envs"}) {
    FileKind kind;
    if (exists_in(cache, dir, folder, kind) && kind == FileKind::directory) return true;
  }
  return false;
}

std::vector<std::string> project_directories(ListingCache& cache, const std::string& start,
                                             long long up, long long down) {
  std::vector<std::string> order;
  std::set<const void*> seen;
  add_subtree(cache, start, down, false, order, seen);
  std::string current = start;
  for (long long i = 0; up > 0 && i <= up; ++i) {
    std::string parent = parent_path(current);
    if (parent == current || parent == parent_path(parent)) break;  // the root is never scanned
    add_subtree(cache, parent, down, false, order, seen);
    current = parent;
  }
  return order;
}

ProjectPlan project_plan(ListingCache& cache, const std::string& start, const std::string& home,
                         long long down, std::optional<long long> up_limit, std::string_view mode) {
  ProjectPlan plan;
  if (up_limit) {
    std::set<std::string> chain;
    for (std::string dir = start; chain.insert(dir).second;) dir = parent_path(dir);
    for (std::string& dir : project_directories(cache, start, *up_limit, down)) {
      bool below = chain.count(dir) == 0;
      plan.directories.push_back({std::move(dir), false, below});
    }
    plan.root = plan.directories.size() > 1 ? plan.directories.back().path : start;
    plan.reason = RootReason::limit;
    return plan;
  }
  std::vector<std::string> below;
  std::set<const void*> seen;
  // $HOME is nobody's project from above it either.
  add_subtree(cache, start, down, true, below, seen, home);
  for (std::string& dir : below) {
    bool deeper = dir != start;
    plan.directories.push_back({std::move(dir), false, deeper});
  }

  // The chain from the working directory up to where the walk must stop.
  std::vector<std::string> chain{start};
  plan.root = start;
  if (under_version_control(cache, start)) {
    plan.reason = RootReason::version_control;
    return plan;
  }
  bool rooted = false;
  if (start != home) {
    std::string current = start;
    while (true) {
      std::string parent = parent_path(current);
      if (parent == current || parent == parent_path(parent)) break;  // the filesystem's root
      if (!same_device(cache, parent, start)) break;
      // Anybody could have left a settings file in /tmp for whoever works
      // below it.
      if (cache.writable_by_all(parent)) break;
      bool at_home = parent == home;
      if (under_version_control(cache, parent)) {
        chain.push_back(parent);
        rooted = true;
        break;
      }
      if (at_home) break;
      chain.push_back(parent);
      current = parent;
    }
  }
  std::size_t last = 0;
  if (rooted) {
    last = chain.size() - 1;
    plan.reason = RootReason::version_control;
  } else {
    plan.reason = RootReason::working_directory;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      if (holds_settings_file(cache, chain[i], mode)) {
        last = i;
        plan.reason = RootReason::settings_file;
        break;
      }
    }
  }
  plan.root = chain[last];
  for (std::size_t i = 1; i <= last; ++i) plan.directories.push_back({chain[i], true, false});
  return plan;
}

}  // namespace talvo::core
