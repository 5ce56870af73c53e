// One discovery, one walk, one read of each file: while a DiscoveryScope is
// alive (main keeps one open for the whole command), the searches share a
// cache of directory listings and file tests, each configuration file is
// loaded once, and each settings.py is executed once, however many routines
// ask. Outside any scope every call sees the filesystem afresh.
#pragma once

#include <optional>
#include <string>

#include "pyutil.hpp"
#include "settings/given.hpp"

namespace talvo::core {
class ListingCache;
}

namespace talvo::settings {

class DiscoveryScope {
 public:
  DiscoveryScope();
  ~DiscoveryScope();
  DiscoveryScope(const DiscoveryScope&) = delete;
  DiscoveryScope& operator=(const DiscoveryScope&) = delete;
};

// talvo.envloader.load_env(path), within the core's limits on a
// document's size and on what its references expand to; an error is raised
// again, unchanged, to every later caller in the scope. A file left unread
// for its size is named once on screen.
nb::object load_config(nb::handle path);

// The configuration file the plain discovery read last in the scope (its
// byte path), so that the env files layered over a .env can be read after
// it.
void note_described_file(const std::string& path);
std::optional<std::string> described_file();

// Says once per scope that a file was left unread: "⚠️ Skipped " + why.
void announce_skipped(const std::string& reason);

// load_settings_from_path(path) with the variables of the project's .env
// visible in os.environ while the file runs (only names not already set;
// they are removed afterwards). A settings file that calls sys.exit() is an
// error of that file, not the end of the program.
nb::object execute_settings(nb::handle path);

// The .env of the project a Django settings file belongs to (beside
// manage.py, else in the settings package's parent), or None.
nb::object project_env_file(nb::handle settings_path);

// The first file of the scope that could not be read, and why: said once
// when the discovery ends without settings, so a broken file is no mystery.
void note_unreadable(const std::string& reason);
std::optional<std::string> first_unreadable();

// The options the operator typed on the command line of this command (see
// GivenOptions); outside a scope, none.
void note_given_options(const GivenOptions& given);
GivenOptions given_options();

// Prints "📄 Found settings at: " + path, once in the scope: a file found by
// several looks is announced once.
void announce_settings_file(const std::string& path);

namespace detail {
// The cache of the innermost live scope, or null outside every scope.
core::ListingCache* scope_cache();
}  // namespace detail

}  // namespace talvo::settings
