// The env files of one directory, as the frameworks that use them load
// them (dotenv, Symfony, Next.js, Vite, Rails' dotenv): .env, then
// .env.local, then .env.<mode>, then .env.<mode>.local, a later file
// overriding an earlier one key by key. Files that document the settings
// (.env.example, .env.sample, ...) or belong to another mode are never
// read for values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/document.hpp"
#include "core/environment_stage.hpp"

namespace talvo::core {

// The variables that name the mode, in the order they are asked.
extern const std::vector<std::string_view> mode_variables;

// APP_ENV, NODE_ENV, RAILS_ENV, RACK_ENV, FLASK_ENV or ENVIRONMENT, the
// first one set; "development" when none is.
std::string env_mode(const Environment& env);

// The env files of a directory in the order they are loaded. In test mode
// .env.local is left out, as Symfony and Next.js leave it out, so that
// tests run alike on every machine.
std::vector<std::string> env_layer_files(std::string_view mode);

// Whether a file name only documents settings, or belongs to another mode:
// .env.example, .env.sample, .env.dist, .env.template and the like
// (config.example.json, database.yml.sample too), and .env.test unless the
// mode is test.
bool decoy_file(std::string_view file_name, std::string_view mode);

// The layers merged: a later layer's value replaces an earlier one's, in
// the earlier one's place.
std::vector<KeyValue> merge_layers(const std::vector<std::vector<KeyValue>>& layers);

}  // namespace talvo::core
