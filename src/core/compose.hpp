// A Docker Compose project as the host sees its database: the service that
// runs a PostgreSQL image and publishes its port 5432, its POSTGRES_*
// variables (or Bitnami's POSTGRESQL_*) from `environment:` and the files
// `env_file:` names, interpolated as Compose does, and the image's own
// defaults. An override file (compose.override.yaml) is merged over the
// base file as Compose merges it, and POSTGRES_PASSWORD_FILE is followed
// to a file of the project, through the `secrets:` that mount it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.hpp"
#include "core/endpoint.hpp"
#include "core/environment_stage.hpp"

namespace talvo::core {

// The override files Compose reads beside each base file name.
std::string compose_override_name(std::string_view base_name);

// `override` merged over `base`: maps key by key, `ports` and `env_file`
// lists appended, other values replaced.
Node merge_compose(const Node& base, const Node& override);

// The files the PostgreSQL service's `env_file:` names, as written
// (relative to the Compose file's directory): a string, a list of strings,
// or a list of {path, required}.
std::vector<std::string> compose_env_files(const Node& document);

// The file of the project POSTGRES_PASSWORD_FILE (or Bitnami's
// POSTGRESQL_PASSWORD_FILE) names, relative to the Compose file's
// directory: a secret's `file:` when the variable names /run/secrets/<name>,
// or the path itself when it is relative.
std::optional<std::string> compose_password_file(const Node& document, const Environment& env);

struct ComposeInputs {
  std::string file;                  // the Compose file, for the origins
  Environment interpolation;         // the environment over the .env beside the file
  std::vector<KeyValue> env_files;    // what `env_file:` gives, in order
  std::optional<std::string> password_file_text;
};

std::optional<Found> read_compose(const Node& document, const ComposeInputs& inputs);

// Compose's ${NAME}, ${NAME:-default}, ${NAME-default}, $NAME and $$.
std::string compose_interpolate(std::string_view value, const Environment& env);

}  // namespace talvo::core
