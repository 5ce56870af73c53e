#include "core/project_root.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/project_documents.hpp"
#include "core/search.hpp"
#include "fake_filesystem.hpp"

using namespace talvo::core;
using fake::FakeFileSystem;

namespace {

struct Want {
  const char* root;
  RootReason reason;
  std::vector<std::string> ancestors;  // the directories above the start, read
};

void expect_plan(FakeFileSystem& fs, const std::string& start, const std::string& home,
                 const Want& want, const std::string& name) {
  ListingCache cache(fs);
  ProjectPlan plan = project_plan(cache, start, home, 1, std::nullopt, "development");
  EXPECT_EQ(plan.root, want.root) << name;
  EXPECT_EQ(plan.reason, want.reason) << name;
  std::vector<std::string> ancestors;
  for (const auto& d : plan.directories)
    if (d.ancestor) ancestors.push_back(d.path);
  EXPECT_EQ(ancestors, want.ancestors) << name;
}

}  // namespace

TEST(ProjectRoot, VersionControlSettingsFilesHomeAndDevices) {
  {
    FakeFileSystem fs;
    fs.dir("/home");
    fs.dir("/home/a");
    fs.dir("/home/a/shop");
    fs.dir("/home/a/shop/.git");
    fs.file("/home/a/shop/.env");
    fs.dir("/home/a/shop/app");
    fs.dir("/home/a/shop/app/models");
    fs.file("/home/a/shop/app/.env");  // nearer, but not where the project starts
    expect_plan(fs, "/home/a/shop/app/models", "/home/a",
                {"/home/a/shop", RootReason::version_control, {"/home/a/shop/app", "/home/a/shop"}},
                ".git folder, two levels up");
    expect_plan(fs, "/home/a/shop", "/home/a", {"/home/a/shop", RootReason::version_control, {}},
                "started at the root");
  }
  {
    FakeFileSystem fs;  // a worktree: .git is a file
    fs.dir("/w");
    fs.dir("/w/wt");
    fs.file("/w/wt/.git");
    fs.dir("/w/wt/src");
    fs.dir("/w/.hg");
    expect_plan(fs, "/w/wt/src", "", {"/w/wt", RootReason::version_control, {"/w/wt"}},
                ".git as a file");
  }
  {
    FakeFileSystem fs;  // no version control: the nearest settings file
    fs.dir("/srv");
    fs.file("/srv/.env");
    fs.dir("/srv/app");
    fs.file("/srv/app/config.json");
    fs.dir("/srv/app/lib");
    fs.dir("/srv/app/lib/x");
    expect_plan(fs, "/srv/app/lib/x", "",
                {"/srv/app", RootReason::settings_file, {"/srv/app/lib", "/srv/app"}},
                "nearest settings file");
    fs.file("/srv/app/lib/x/README.md");
    expect_plan(fs, "/srv/app/lib/x", "",
                {"/srv/app", RootReason::settings_file, {"/srv/app/lib", "/srv/app"}},
                "a README is no settings file");
  }
  {
    FakeFileSystem fs;  // $HOME stops the walk, and is read only as a root of its own
    fs.dir("/home");
    fs.dir("/home/a");
    fs.file("/home/a/.env");
    fs.dir("/home/a/scratch");
    fs.dir("/home/a/scratch/t");
    expect_plan(fs, "/home/a/scratch/t", "/home/a", {"/home/a/scratch/t", RootReason::working_directory, {}},
                "never $HOME without its .git");
    fs.dir("/home/a/.git");
    expect_plan(fs, "/home/a/scratch/t", "/home/a",
                {"/home/a", RootReason::version_control, {"/home/a/scratch", "/home/a"}},
                "a home kept in version control");
  }
  {
    FakeFileSystem fs;  // never across a filesystem boundary
    fs.dir("/data");
    fs.dir("/data/.git");
    fs.dir("/data/mnt");
    fs.dir("/data/mnt/proj");
    fs.file("/data/mnt/proj/.env");
    fs.dir("/data/mnt/proj/sub");
    fs.mount("/data/mnt", 100);
    expect_plan(fs, "/data/mnt/proj/sub", "",
                {"/data/mnt/proj", RootReason::settings_file, {"/data/mnt/proj"}},
                "device boundary");
  }
  {
    FakeFileSystem fs;  // never into a directory every user may write in
    fs.dir("/tmp");
    fs.file("/tmp/planted.env");
    fs.dir("/tmp/t");
    fs.dir("/tmp/t/sub");
    fs.shared.insert("/tmp");
    expect_plan(fs, "/tmp/t/sub", "", {"/tmp/t/sub", RootReason::working_directory, {}},
                "world-writable /tmp");
  }
}

TEST(ProjectRoot, AncestorsAreReadThroughFixedPathsOnly) {
  FakeFileSystem fs;
  fs.dir("/p");
  fs.dir("/p/.git");
  fs.dir("/p/config");
  fs.file("/p/config/database.yml");
  fs.file("/p/config/settings.toml");
  fs.dir("/p/config/environments");
  fs.file("/p/config/environments/development.yml");
  fs.file("/p/config/environments/production.yml");
  fs.dir("/p/prisma");
  fs.file("/p/prisma/.env");
  fs.dir("/p/configs");
  fs.file("/p/configs/config.yaml");
  fs.dir("/p/src");
  fs.dir("/p/src/main");
  fs.dir("/p/src/main/resources");
  fs.file("/p/src/main/resources/application.properties");
  fs.dir("/p/.envs");
  fs.dir("/p/.envs/.local");
  fs.file("/p/.envs/.local/.postgres");
  fs.dir("/p/.envs/.production");
  fs.file("/p/.envs/.production/.postgres");
  fs.dir("/p/other");  // a sibling project
  fs.file("/p/other/.env");
  fs.file("/p/.env.example");
  fs.file("/p/package.json");
  fs.file("/p/knexfile.js");
  fs.file("/p/next.config.js");  // a tool's script
  fs.file("/p/config/database.ts");
  fs.file("/p/compose.yaml");
  fs.file("/p/.env.local");
  fs.dir("/p/web");
  ListingCache cache(fs);
  ProjectPlan plan = project_plan(cache, "/p/web", "", 1, std::nullopt, "development");
  ASSERT_EQ(plan.directories.size(), 2u);
  EXPECT_EQ(plan.directories[1].path, "/p");
  std::vector<std::string> read;
  for (const DocumentRef& d : directory_documents(cache, "/p", "development", false)) read.push_back(d.relative);
  EXPECT_EQ(read, (std::vector<std::string>{"compose.yaml", ".env", "config/database.yml",
                                            "src/main/resources/application.properties",
                                            "knexfile.js", "config/database.ts",
                                            "config/settings.toml", "config/environments/development.yml",
                                            "config/environments/production.yml", "configs/config.yaml", "prisma/.env",
                                            ".envs/.local/.postgres"}));
  auto production = settings_subdirectories("production");
  EXPECT_NE(std::find(production.begin(), production.end(), ".envs/.production"), production.end());
  EXPECT_EQ(std::find(production.begin(), production.end(), ".envs/.local"), production.end());

  // With -ul the limit is the operator's, as before the root rule.
  ProjectPlan limited = project_plan(cache, "/p/web", "", 0, 0LL, "development");
  EXPECT_EQ(limited.directories.size(), 1u);
  EXPECT_EQ(limited.reason, RootReason::limit);
}
