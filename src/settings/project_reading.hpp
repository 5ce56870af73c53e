// Reading a project's documents for the second look: each file loaded once
// (through the scope), turned into the core's document with the line of
// every key where the loader knows it, and handed to the rule the core
// chose for it, with what that rule needs from one step away (the env files
// a Compose service names, a Spring profile's file, the settings module
// manage.py names, the project's env files for ${NAME} and ERB).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/project_files.hpp"
#include "pyutil.hpp"

namespace talvo::core {
class ListingCache;
}

namespace talvo::settings {

// A Python value as the core's document; `lines` is the loader's
// {(id(mapping), key): line}, or None.
core::Node to_node(nb::handle value, nb::handle lines);

class ProjectReader {
 public:
  // `directories` are the plan's, nearest first: the env files of a
  // document's directory and of the directories above it answer its
  // references after the environment.
  ProjectReader(core::ListingCache& cache, core::Environment env,
                const std::vector<core::PlannedDirectory>& directories);

  // The candidates of one document of directory `dir`.
  std::vector<core::Candidate> read(const core::DocumentRef& doc, const std::string& dir);

  // The candidates of a file the operator named, read by `reader`.
  std::vector<core::Candidate> read_named(const std::string& path, core::Reader reader);

  const std::string& mode() const { return mode_; }

 private:
  struct Loaded {
    core::Node node;
    std::size_t bytes = 0;
  };

  std::optional<Loaded> load(const std::string& path, bool note_failure);
  bool regular(const std::string& path);
  const std::vector<core::KeyValue>& env_settings(const std::string& dir);
  core::ReadingContext context_for(const std::string& dir, const std::string& file);
  std::vector<core::Candidate> judged(core::Reader reader, std::vector<core::KeyValue> settings,
                                      const core::ReadingContext& context, std::size_t bytes);

  std::vector<core::Candidate> read_env(const std::string& dir);
  std::vector<core::Candidate> read_compose(const std::string& path, const std::string& dir);
  std::vector<core::Candidate> read_django(const std::string& path, const std::string& dir);
  std::vector<core::Candidate> read_manage_py(const std::string& path, const std::string& dir);
  std::vector<core::Candidate> read_spring(const std::string& path, const std::string& dir);
  std::vector<core::Candidate> read_dotnet(const std::string& path, const std::string& dir);
  std::vector<core::Candidate> read_document(core::Reader reader, const std::string& path,
                                             const std::string& dir, bool note_failure);

  core::ListingCache& cache_;
  core::Environment env_;
  std::string mode_;
  std::vector<std::string> directories_;
  std::map<std::string, std::vector<core::KeyValue>> env_settings_;
  std::vector<std::string> django_read_;
};

}  // namespace talvo::settings
