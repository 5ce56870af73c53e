// Where a project begins, and which of its directories the second look
// reads, nearest first.
//
// The root is the nearest directory, from the working directory up, that
// holds .git (a folder, or a file as in a worktree or submodule), .hg or
// .svn. Without one, it is the nearest directory that holds a settings file
// (the working directory's own, when none does). The walk never crosses
// into another filesystem (another device) or a directory every user may
// write in (/tmp), never reaches the filesystem's root, and stops at $HOME,
// which is read only when it is the root by its .git (a home kept in
// version control).
//
// The working directory is read with its subdirectories down to the
// down-level; each directory above it up to the root is read itself and
// through the fixed relative paths frameworks keep their settings in
// (config/, src/main/resources/, prisma/, .envs/.local/, ...), never
// through its other subdirectories, so a sibling project cannot win.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::core {

class ListingCache;

enum class RootReason : unsigned char {
  version_control,  // .git, .hg or .svn
  settings_file,    // the nearest directory with a settings file
  working_directory,  // nothing above it told more
  limit,            // -ul N set how far up
};

struct PlannedDirectory {
  std::string path;
  // Above the working directory: read itself and through the fixed
  // relative paths only.
  bool ancestor = false;
  // Below the working directory: only its files whose names speak of
  // settings are read by their format (see directory_documents).
  bool below = false;
};

struct ProjectPlan {
  std::vector<PlannedDirectory> directories;  // nearest first
  std::string root;
  RootReason reason = RootReason::working_directory;
};

// The version-control markers a root holds.
extern const std::vector<std::string_view> version_control_markers;

// The subdirectories, relative to a directory, where frameworks keep their
// settings files, for the given mode (.envs/.local/ in development,
// .envs/.production/ in production, as cookiecutter-django lays them out).
std::vector<std::string> settings_subdirectories(std::string_view mode);

// The plan of the second look. `start` and `home` are absolute and
// resolved (`home` empty when unknown). With `up_limit` (an -ul typed on
// the command line) the directories are those of project_directories.
ProjectPlan project_plan(ListingCache& cache, const std::string& start, const std::string& home,
                         long long down, std::optional<long long> up_limit, std::string_view mode);

// The directories the second look visits with an explicit up-level, in
// precedence order: `start` (absolute, resolved), its subdirectories level
// by level to `down`, then each ancestor (the parent first; none when `up`
// is 0, otherwise up + 1 of them, below the root) with its own
// subdirectories. The directories every search skips are skipped; each
// directory comes once.
std::vector<std::string> project_directories(ListingCache& cache, const std::string& start,
                                             long long up, long long down);

// Whether a directory holds a file the second look reads for settings.
bool holds_settings_file(ListingCache& cache, const std::string& dir, std::string_view mode);

}  // namespace talvo::core
