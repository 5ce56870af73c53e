#include "core/env_layers.hpp"

#include <unordered_map>

#include "core/document.hpp"

namespace talvo::core {

namespace {

// Words of a file name that say it holds examples, not settings.
constexpr std::string_view kDecoyWords[] = {
    "example", "examples", "sample", "samples", "dist", "template", "templates", "tmpl",
    "tpl",     "skel",     "orig",   "bak",     "backup", "old",
};

bool decoy_word(std::string_view word) {
  for (std::string_view w : kDecoyWords)
    if (word == w) return true;
  return false;
}

}  // namespace

const std::vector<std::string_view> mode_variables{"APP_ENV",  "NODE_ENV",  "RAILS_ENV",
                                                   "RACK_ENV", "FLASK_ENV", "ENVIRONMENT"};

std::string env_mode(const Environment& env) {
  for (std::string_view name : mode_variables) {
    auto v = lookup(env, name);
    if (v && !v->empty()) return std::string(*v);
  }
  return "development";
}

std::vector<std::string> env_layer_files(std::string_view mode) {
  std::string m(mode);
  std::vector<std::string> files{".env"};
  if (m != "test") files.push_back(".env.local");
  files.push_back(".env." + m);
  files.push_back(".env." + m + ".local");
  return files;
}

bool decoy_file(std::string_view file_name, std::string_view mode) {
  std::string name = ascii_lower(file_name);
  // The words between dots, dashes and underscores: .env.example,
  // config.sample.json, database.yml.dist, app-example.ini.
  std::size_t start = 0;
  bool test_word = false;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of(".-_", start);
    if (end == std::string::npos) end = name.size();
    std::string_view word = std::string_view(name).substr(start, end - start);
    if (decoy_word(word)) return true;
    if (word == "test" || word == "testing") test_word = true;
    start = end + 1;
  }
  return test_word && name.starts_with(".env") && ascii_lower(mode) != "test";
}

std::vector<KeyValue> merge_layers(const std::vector<std::vector<KeyValue>>& layers) {
  std::vector<KeyValue> merged;
  std::unordered_map<std::string, std::size_t> at;
  for (const auto& layer : layers) {
    for (const KeyValue& v : layer) {
      auto [it, fresh] = at.emplace(v.key, merged.size());
      if (fresh)
        merged.push_back(v);
      else
        merged[it->second] = v;
    }
  }
  return merged;
}

}  // namespace talvo::core
