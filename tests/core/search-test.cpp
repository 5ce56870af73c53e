#include "core/search.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fake_filesystem.hpp"

using namespace talvo::core;
using fake::FakeFileSystem;

namespace {

std::optional<std::string> down(FileSystem& fs, const std::string& root, long long depth,
                                const std::string& name = "settings.py") {
  ListingCache cache(fs);
  return search_down(cache, root, depth, name);
}

std::optional<std::string> directory(FileSystem& fs, const std::string& root, long long depth,
                                     const std::string& name = "settings.py") {
  ListingCache cache(fs);
  return search_directory(cache, root, depth, name);
}

struct Silent : SearchObserver {};

std::optional<std::string> upward(FileSystem& fs, const std::string& start, long long up,
                                  long long depth_down = 5) {
  ListingCache cache(fs);
  Silent silent;
  return find_upward(cache, start, up, depth_down, "settings.py", silent);
}

}  // namespace

TEST(Search, SkipsToolAndCacheDirectoriesOnly) {
  const std::pair<const char*, bool> cases[] = {
      {"node_modules", false}, {"venv", false},  {"__pycache__", false}, {"my-env", false},
      {"project-env2", false}, {"-env", false},  {".venv", true},        {"env", true},
      {"Venv", true},          {"xenv", true},   {".git", true},         {"venv2", true},
  };
  for (auto [name, entered] : cases) {
    FakeFileSystem fs;
    fs.dir("/p");
    fs.dir(std::string("/p/") + name);
    fs.file(std::string("/p/") + name + "/settings.py");
    std::optional<std::string> expected;
    if (entered) expected = std::string("/p/") + name + "/settings.py";
    EXPECT_EQ(down(fs, "/p", 5), expected) << name;
    EXPECT_EQ(directory(fs, "/p", 5), expected) << name;
  }
}

TEST(Search, FileInStartDirectoryNeedsNoListing) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.file("/p/settings.py");
  fs.dir("/p/a");
  EXPECT_EQ(down(fs, "/p", 0), "/p/settings.py");
  EXPECT_EQ(directory(fs, "/p", 0), "/p/settings.py");
  EXPECT_EQ(fs.lists.size(), 0u);
}

TEST(Search, DepthZeroListsStartDirectoryButEntersNothing) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/a");
  fs.file("/p/a/settings.py");
  EXPECT_EQ(down(fs, "/p", 0), std::nullopt);
  EXPECT_EQ(fs.lists["/p"], 1);
  EXPECT_EQ(fs.stats.count("/p/a/settings.py"), 0u);
  EXPECT_EQ(directory(fs, "/p", 0), std::nullopt);
}

TEST(Search, LimitNExaminesNPlusOneLevels) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/a");
  fs.dir("/p/a/b");
  fs.file("/p/a/b/settings.py");
  EXPECT_EQ(down(fs, "/p", 1), std::nullopt);
  EXPECT_EQ(down(fs, "/p", 2), "/p/a/b/settings.py");
  EXPECT_EQ(directory(fs, "/p", 1), std::nullopt);
  EXPECT_EQ(directory(fs, "/p", 2), "/p/a/b/settings.py");
}

TEST(Search, ListingOrderDecidesBetweenSiblings) {
  for (bool b_first : {true, false}) {
    FakeFileSystem fs;
    fs.dir("/p");
    for (const char* name : b_first ? std::vector{"b", "a"} : std::vector{"a", "b"}) {
      fs.dir(std::string("/p/") + name);
      fs.file(std::string("/p/") + name + "/settings.py");
    }
    const char* winner = b_first ? "/p/b/settings.py" : "/p/a/settings.py";
    EXPECT_EQ(down(fs, "/p", 3), winner);
    EXPECT_EQ(directory(fs, "/p", 3), winner);
  }
}

TEST(Search, FollowsLinksToDirectoriesAndFiles) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/elsewhere");
  fs.file("/elsewhere/settings.py");
  fs.link("/p/linked", "/elsewhere");
  EXPECT_EQ(down(fs, "/p", 1), "/p/linked/settings.py");
  EXPECT_EQ(directory(fs, "/p", 1), "/p/linked/settings.py");

  FakeFileSystem files;
  files.dir("/q");
  files.file("/real.py");
  files.link("/q/settings.py", "/real.py");
  files.link("/q/dangling", "/nowhere");
  EXPECT_EQ(down(files, "/q", 1), "/q/settings.py");
}

TEST(Search, EntriesOfUnknownTypeAreTested) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.untyped_dir("/p/a");
  fs.file("/p/a/settings.py");
  EXPECT_EQ(down(fs, "/p", 1), "/p/a/settings.py");
}

TEST(Search, UnreadableSubdirectoryDoesNotStopSiblings) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/closed");
  fs.dir("/p/closed/inner");
  fs.file("/p/closed/inner/settings.py");
  fs.unreadable("/p/closed");
  fs.dir("/p/open");
  fs.file("/p/open/settings.py");
  EXPECT_EQ(down(fs, "/p", 2), "/p/open/settings.py");
  EXPECT_EQ(directory(fs, "/p", 2), "/p/open/settings.py");
}

// A subdirectory without search permission: the file test inside it fails.
TEST(Search, FailingFileTestAbandonsParentOnlyForSearchDown) {
  FakeFileSystem fs;
  fs.dir("/top");
  fs.dir("/top/p");
  fs.dir("/top/p/locked");
  fs.unsearchable("/top/p/locked");
  fs.dir("/top/p/next");
  fs.file("/top/p/next/settings.py");
  fs.dir("/top/z");
  fs.file("/top/z/settings.py");

  // /top/p yields nothing; /top goes on with its next entry.
  EXPECT_EQ(down(fs, "/top/p", 3), std::nullopt);
  EXPECT_EQ(down(fs, "/top", 3), "/top/z/settings.py");
  EXPECT_EQ(directory(fs, "/top/p", 3), "/top/p/next/settings.py");
  EXPECT_EQ(directory(fs, "/top", 3), "/top/p/next/settings.py");
}

TEST(Search, FailingFileTestAtStartLeavesTheSearch) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.unsearchable("/p");
  try {
    down(fs, "/p", 3);
    FAIL() << "no error";
  } catch (const FileTestError& e) {
    EXPECT_EQ(e.error(), EACCES);
    EXPECT_EQ(e.path(), "/p/settings.py");
  }
  EXPECT_THROW(upward(fs, "/p", 2), FileTestError);
  EXPECT_EQ(directory(fs, "/p", 3), std::nullopt);
}

TEST(Search, MissingOrFileStartIsNotAnError) {
  FakeFileSystem fs;
  fs.file("/f");
  EXPECT_EQ(down(fs, "/missing", 3), std::nullopt);
  EXPECT_EQ(down(fs, "/f", 3), std::nullopt);
  EXPECT_EQ(directory(fs, "/missing", 3), std::nullopt);
}

// A readable directory without search permission: its listing works, but
// every test inside it fails. For search_down the failing file test ends the
// parent's listing; search_directory takes every entry there for absent.
TEST(Search, ReadableButUnsearchableDirectoryYieldsNothingInside) {
  FakeFileSystem fs;
  fs.dir("/top");
  fs.dir("/top/p");
  fs.dir("/top/p/a");
  fs.file("/top/p/a/settings.py");
  fs.unsearchable("/top/p");
  fs.dir("/top/q");
  fs.file("/top/q/settings.py");
  ListingCache cache(fs);
  // Twice through one cache: the second answer must not be derived from the
  // listing that the first one made.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(search_down(cache, "/top", 3, "settings.py"), std::nullopt);
    EXPECT_EQ(search_directory(cache, "/top", 3, "settings.py"), "/top/q/settings.py");
    EXPECT_THROW(search_down(cache, "/top/p", 3, "settings.py"), FileTestError);
    EXPECT_THROW(search_down(cache, "/top/p", 3, "other"), FileTestError);
  }
}

TEST(Upward, ScansUpToNPlusOneAncestors) {
  FakeFileSystem fs;
  fs.dir("/a");
  fs.dir("/a/b");
  fs.dir("/a/b/c");
  fs.dir("/a/b/c/d");
  fs.file("/a/b/settings.py");
  EXPECT_EQ(upward(fs, "/a/b/c/d", 0), std::nullopt);
  EXPECT_EQ(upward(fs, "/a/b/c/d", 1), "/a/b/settings.py");  // the grandparent
  EXPECT_EQ(upward(fs, "/a/b/c", 1), "/a/b/settings.py");
}

TEST(Upward, NeverScansTheRoot) {
  FakeFileSystem fs;
  fs.dir("/a");
  fs.dir("/a/b");
  fs.file("/settings.py");
  EXPECT_EQ(upward(fs, "/a/b", 10), std::nullopt);
  EXPECT_EQ(fs.stats.count("/settings.py"), 0u);
  EXPECT_EQ(fs.lists.count("/"), 0u);
  // Starting at the root, the downward scan still runs.
  EXPECT_EQ(upward(fs, "/", 10), "/settings.py");
}

TEST(Upward, ReportsEachDownwardScan) {
  struct Recorder : SearchObserver {
    std::vector<std::string> lines;
    void down_result(int phase, const std::optional<std::string>& r) override {
      lines.push_back(std::to_string(phase) + " " + r.value_or("None"));
    }
    void ancestors(const std::string& current, const std::string& parent) override {
      lines.push_back(current + " < " + parent);
    }
  };
  FakeFileSystem fs;
  fs.dir("/a");
  fs.dir("/a/b");
  fs.dir("/a/b/c");
  ListingCache cache(fs);
  Recorder rec;
  EXPECT_EQ(find_upward(cache, "/a/b/c", 3, 5, "settings.py", rec), std::nullopt);
  EXPECT_EQ(rec.lines, (std::vector<std::string>{"0 None", "/a/b < /a", "1 None", "1 None"}));
}

TEST(Paths, JoinAndParentAsPathlib) {
  EXPECT_EQ(join_path("/", "x"), "/x");
  EXPECT_EQ(join_path("/a", "x"), "/a/x");
  EXPECT_EQ(parent_path("/a/b"), "/a");
  EXPECT_EQ(parent_path("/a"), "/");
  EXPECT_EQ(parent_path("/"), "/");
  EXPECT_EQ(os_join("", "x"), "x");
  EXPECT_EQ(os_join("a/", "x"), "a/x");
  EXPECT_EQ(os_join("a", "x"), "a/x");
}

// Five searches of one discovery over one cache: every directory is listed
// at most once, and each search answers as a walk of its own would.
TEST(Cache, FiveSearchesListEachDirectoryOnce) {
  FakeFileSystem fs;
  fs.dir("/w");
  fs.dir("/w/proj");
  fs.dir("/w/proj/app");
  fs.dir("/w/proj/app/deep");
  fs.dir("/w/proj/node_modules");
  fs.dir("/w/proj/.git");
  fs.untyped_dir("/w/proj/odd");
  fs.link("/w/proj/shortcut", "/w/other");
  fs.dir("/w/other");
  fs.file("/w/other/.yaml");
  fs.file("/w/proj/app/deep/config.json");
  fs.dir("/w/proj/locked");
  fs.unreadable("/w/proj/locked");
  const char* names[] = {"settings.py", "config.json", ".env", ".json", ".yaml"};

  std::vector<std::optional<std::string>> fresh;
  for (const char* name : names) {
    FakeFileSystem& own = fs;
    ListingCache cache(own);
    Silent silent;
    fresh.push_back(find_upward(cache, "/w/proj/app", 2, 3, name, silent));
  }
  fs.stats.clear();
  fs.lists.clear();

  ListingCache shared(fs);
  Silent silent;
  for (std::size_t i = 0; i < std::size(names); ++i)
    EXPECT_EQ(find_upward(shared, "/w/proj/app", 2, 3, names[i], silent), fresh[i]) << names[i];
  EXPECT_EQ(fresh[1], "/w/proj/app/deep/config.json");
  EXPECT_EQ(fresh[4], "/w/proj/shortcut/.yaml");
  for (auto& [path, count] : fs.lists) EXPECT_EQ(count, 1) << path;
  // The first file test of each directory proves it searchable; after that
  // only links and entries of unknown type need the filesystem.
  int stat_calls = 0;
  for (auto& [path, count] : fs.stats) {
    EXPECT_EQ(count, 1) << path;
    stat_calls += count;
  }
  // One first file test per listed directory, the link and the untyped
  // entry, and, since a directory that cannot be listed answers nothing from
  // a listing, two more names looked up in the locked one.
  EXPECT_EQ(stat_calls, static_cast<int>(fs.lists.size()) + 2 + 2);
}

// A file name with a directory part is looked up through the filesystem,
// never answered from the listing of the directory it starts in.
TEST(Cache, NamesWithADirectoryPartAreLookedUp) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/a");
  fs.dir("/p/a/conf");
  fs.file("/p/a/conf/x.cfg");
  ListingCache cache(fs);
  EXPECT_EQ(search_down(cache, "/p", 3, "settings.py"), std::nullopt);
  EXPECT_EQ(search_down(cache, "/p", 3, "conf/x.cfg"), "/p/a/conf/x.cfg");
  EXPECT_EQ(search_directory(cache, "/p", 3, "conf/x.cfg"), "/p/a/conf/x.cfg");
}

// Identities come from the listings: only the start and what a link (or an
// entry of unknown type) leads to are looked up.
TEST(Identity, DirectoriesReachedFromTheirParentsNeedNoLookup) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/a");
  fs.dir("/p/a/b");
  fs.untyped_dir("/p/c");
  fs.link("/p/to_a", "/p/a");
  EXPECT_EQ(down(fs, "/p", 5), std::nullopt);
  EXPECT_EQ(fs.identified, 3);
}

// Inside a mount point inode numbers start afresh: the directory below it
// has the number of one beside it, and is searched all the same.
TEST(Identity, AMountedFilesystemKeepsItsInodesApart) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/a");
  fs.dir("/p/m");
  fs.dir("/p/m/b");
  fs.file("/p/m/b/settings.py");
  fs.mount("/p/m", 2);  // /p/m/b is inode 3 there, as /p/a is here
  EXPECT_EQ(down(fs, "/p", 3), "/p/m/b/settings.py");
}

// Links back to the start, to a sibling and to the directory itself: a walk
// of every path would take time exponential in the depth limit.
TEST(Loops, EachDirectoryIsListedOnceHoweverDeep) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/a");
  fs.link("/p/a/up", "/p");
  fs.link("/p/a/x", "/p/b");
  fs.dir("/p/b");
  fs.link("/p/b/self", "/p/b");
  fs.dir("/p/b/c");
  fs.link("/p/b/c/top", "/p");
  fs.link("/p/back", "/p");
  const long long deep = 1'000'000;
  auto listings = [&] {
    int calls = 0;
    for (auto& [path, count] : fs.lists) calls += count;
    fs.lists.clear();
    return calls;
  };
  EXPECT_EQ(down(fs, "/p", deep, "missing"), std::nullopt);
  EXPECT_EQ(listings(), 4);
  EXPECT_EQ(directory(fs, "/p", deep, "missing"), std::nullopt);
  EXPECT_EQ(listings(), 4);
  EXPECT_EQ(upward(fs, "/p/b/c", 5, deep), std::nullopt);
  EXPECT_EQ(listings(), 4);

  // Found by the first path in listing order that goes round no loop.
  fs.file("/p/b/c/settings.py");
  EXPECT_EQ(down(fs, "/p", deep), "/p/a/x/c/settings.py");
  EXPECT_EQ(directory(fs, "/p", deep), "/p/a/x/c/settings.py");
}

// A directory reached first by a long path and later by a shorter one is
// searched again from there, as far as the shorter path allows.
TEST(Loops, ShorterPathSearchesDeeper) {
  FakeFileSystem fs;
  fs.dir("/w");
  fs.dir("/w/s");
  fs.dir("/w/s/a");
  fs.link("/w/s/a/l", "/w/s/b");
  fs.dir("/w/s/b");
  fs.dir("/w/s/b/c");
  fs.file("/w/s/b/c/settings.py");
  fs.dir("/w/s/x");
  fs.dir("/w/s/x/y");
  fs.link("/w/s/x/y/l", "/w/t");
  fs.dir("/w/t");
  fs.dir("/w/t/u");
  fs.file("/w/t/u/.env");
  EXPECT_EQ(down(fs, "/w/s", 2), "/w/s/b/c/settings.py");
  EXPECT_EQ(directory(fs, "/w/s", 2), "/w/s/b/c/settings.py");
  EXPECT_EQ(down(fs, "/w/s", 3), "/w/s/a/l/c/settings.py");
  EXPECT_EQ(fs.lists.count("/w/s/b"), 0u);  // listed once, by its first path

  // The start directory's scan reaches /w/t too deep; its parent's, in time.
  ListingCache cache(fs);
  Silent silent;
  EXPECT_EQ(find_upward(cache, "/w/s", 1, 3, ".env", silent), "/w/t/u/.env");
}

// The file test inside "locked" fails whichever path leads there, and each
// time ends the listing of the directory it was reached from.
TEST(Loops, FailingFileTestFailsByEveryPath) {
  FakeFileSystem fs;
  fs.dir("/top");
  fs.dir("/top/p1");
  fs.dir("/top/p1/locked");
  fs.unsearchable("/top/p1/locked");
  fs.dir("/top/p2");
  fs.link("/top/p2/k", "/top/p1/locked");
  fs.dir("/top/p2/f");
  fs.file("/top/p2/f/settings.py");
  fs.dir("/top/z");
  fs.file("/top/z/settings.py");
  EXPECT_EQ(down(fs, "/top", 3), "/top/z/settings.py");
  EXPECT_EQ(directory(fs, "/top", 3), "/top/p2/f/settings.py");
}
