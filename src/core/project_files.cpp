#include "core/project_files.hpp"

#include "core/env_layers.hpp"
#include "core/search.hpp"
#include "core/vocabulary.hpp"

namespace talvo::core {

namespace {

using namespace std::string_view_literals;


std::string levels_text(long long up, long long down) {
  std::string where;
  if (down > 0) where += ", " + std::to_string(down) + (down == 1 ? " level" : " levels") + " below";
  if (up > 0) where += ", " + std::to_string(up + 1) + " levels above";
  return where;
}

std::string root_text(std::string_view start, const ProjectPlan* plan) {
  if (plan == nullptr || plan->reason == RootReason::limit) return {};
  switch (plan->reason) {
    case RootReason::version_control:
      if (plan->root == start) return ", the project's root (it holds .git, .hg or .svn)";
      return ", and up to the project's root " + plan->root + " (it holds .git, .hg or .svn)";
    case RootReason::settings_file:
      if (plan->root == start) return ", the project's root (no .git, .hg or .svn above it)";
      return ", and up to " + plan->root +
             ", the nearest directory with a settings file (no .git, .hg or .svn above)";
    default:
      return ", and no directory above it (no .git, .hg, .svn or settings file there)";
  }
}

// Labels a log reader knows a document's candidates by.
void label(Reader reader, Candidate& c) {
  std::string& f = c.found.framework;
  switch (reader) {
    case Reader::django: f = "Django"; break;
    case Reader::rails: f = "Rails"; break;
    case Reader::spring: f = "Spring Boot"; break;
    case Reader::config: f = "config file"; break;
    case Reader::ini:
      if (c.group == "database" || c.group.starts_with("database ")) f = "INI [database]";
      else if (c.group == "options" || c.group.starts_with("options ")) f = "Odoo";
      break;
    default: break;
  }
}

std::vector<KeyValue> settings_of(Reader reader, const Node& document, const std::string& file) {
  std::vector<KeyValue> settings = flatten(document, file);
  // Django's entries are databases by their place in DATABASES.
  if (reader == Reader::django)
    for (KeyValue& s : settings) s.key = "DATABASES." + s.key;
  return settings;
}

// A comment after a value, as conf files of the INI kind write them
// (Kong's, PostgreSQL's own): from a # or ; that follows a blank.
std::string without_trailing_comment(std::string value) {
  for (std::size_t i = 1; i < value.size(); ++i) {
    if ((value[i] == '#' || value[i] == ';') && (value[i - 1] == ' ' || value[i - 1] == '\t')) {
      value.resize(i);
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
      break;
    }
  }
  return value;
}

// The values as their framework reads them: ${NAME} everywhere, and ERB
// in database.yml. A value that stays unknown is left out.
bool resolve(Reader reader, std::vector<KeyValue>& settings, const ReadingContext& context,
             Budget& budget) {
  std::vector<KeyValue> kept;
  kept.reserve(settings.size());
  for (KeyValue& s : settings) {
    std::optional<std::string> v = s.value;
    if (reader == Reader::ini) v = without_trailing_comment(*v);
    if (reader == Reader::rails && v->find("<%") != std::string::npos)
      v = erb_value(*v, context.lookup, budget);
    if (v && v->find("${") != std::string::npos && context.lookup)
      v = interpolate(*v, context.lookup, budget);
    if (budget.exceeded()) return false;
    if (!v) continue;
    s.value = std::move(*v);
    kept.push_back(std::move(s));
  }
  settings = std::move(kept);
  return true;
}

}  // namespace

const std::vector<ProjectFile> project_files{
    {"compose.yaml", Reader::compose},
    {"compose.yml", Reader::compose},
    {"docker-compose.yml", Reader::compose},
    {"docker-compose.yaml", Reader::compose},
    {".env.local", Reader::dotenv},
    {".env.development", Reader::dotenv},
    {".env", Reader::dotenv},
    {"settings.py", Reader::django},
    {"config/database.yml", Reader::rails},
    {"src/main/resources/application.properties", Reader::spring},
    {"src/main/resources/application.yml", Reader::spring},
    {"src/main/resources/application.yaml", Reader::spring},
    {"application.properties", Reader::spring},
    {"application.yml", Reader::spring},
    {"application.yaml", Reader::spring},
    {"config.json", Reader::config},
    {"config.yaml", Reader::config},
    {"config.yml", Reader::config},
    {"ormconfig.json", Reader::config},
    {"custom/conf/app.ini", Reader::ini},
    {"app.ini", Reader::ini},
    {"grafana.ini", Reader::ini},
    {"conf/custom.ini", Reader::ini},
    {"odoo.conf", Reader::ini},
    {".odoorc", Reader::ini},
};

bool names_postgres(std::string_view value) { return engine_named(value) == Engine::postgres; }

bool usable(const Endpoint& e) { return e.database.has_value() && !e.database->empty(); }

std::vector<Reader> readers_for(std::string_view file_name) {
  std::string_view name = base_name(file_name);
  switch (format_for(name)) {
    case Format::python: return {Reader::django};
    case Format::properties: return {Reader::spring};
    case Format::ini: return {Reader::ini};
    case Format::dotenv: return {Reader::dotenv};
    case Format::json:
    case Format::toml: return {Reader::config, Reader::dotenv};
    case Format::elixir:
    case Format::script: return {Reader::config};
    case Format::yaml:
      if (ascii_lower(name).find("compose") != std::string::npos) return {Reader::compose};
      if (iequals(name, "database.yml") || iequals(name, "database.yaml"))
        return {Reader::rails, Reader::config};
      return {Reader::spring, Reader::config, Reader::rails, Reader::dotenv};
  }
  return {Reader::dotenv};
}

Reader reader_for(Rule rule, std::string_view file_name) {
  switch (rule) {
    case Rule::compose: return Reader::compose;
    case Rule::env: return Reader::dotenv;
    case Rule::django: return Reader::django;
    case Rule::rails: return Reader::rails;
    case Rule::spring: return Reader::spring;
    case Rule::dotnet: return Reader::config;
    case Rule::generic: break;
  }
  switch (format_for(file_name)) {
    case Format::ini: return Reader::ini;
    case Format::properties: return Reader::spring;
    case Format::dotenv: return Reader::dotenv;
    default: return Reader::config;
  }
}

std::string rails_mode(const Environment& env) {
  for (std::string_view name : {"RAILS_ENV"sv, "RACK_ENV"sv})
    if (auto v = lookup(env, name); v && !v->empty()) return std::string(*v);
  return "development";
}

std::vector<Candidate> read_candidates(Reader reader, const Node& document,
                                       const ReadingContext& context, Budget& budget) {
  std::vector<Candidate> out;
  if (reader == Reader::compose) {
    ComposeInputs fallback;
    fallback.file = context.file;
    const ComposeInputs& inputs = context.compose ? *context.compose : fallback;
    if (auto f = read_compose(document, inputs)) {
      Candidate c;
      c.found = std::move(*f);
      c.strength = 0;
      c.kind = 0;
      out.push_back(std::move(c));
    }
    return out;
  }
  return read_settings(reader, settings_of(reader, document, context.file), context, budget);
}

std::vector<Candidate> read_settings(Reader reader, std::vector<KeyValue> settings,
                                     const ReadingContext& context, Budget& budget) {
  std::vector<Candidate> out;
  if (!resolve(reader, settings, context, budget)) return out;
  RecognitionOptions options;
  options.mode = reader == Reader::rails ? context.rails_mode : context.mode;
  options.image_defaults = reader == Reader::dotenv || reader == Reader::ini;
  if (reader == Reader::config || reader == Reader::ini)
    options.file_environment = file_environment(base_name(context.file));
  out = recognise_settings(settings, options);
  for (Candidate& c : out) {
    label(reader, c);
    if (c.found.path.empty()) c.found.path = context.file;
  }
  return out;
}

std::optional<Found> recognise(Reader reader, const Node& document, const Environment& env) {
  ReadingContext context;
  context.mode = env_mode(env);
  context.rails_mode = rails_mode(env);
  context.lookup = [&env](std::string_view name) -> std::optional<std::string> {
    auto v = lookup(env, name);
    return v ? std::optional<std::string>(*v) : std::nullopt;
  };
  ComposeInputs inputs;
  inputs.interpolation = env;
  context.compose = &inputs;
  std::size_t size = 0;
  for (const KeyValue& s : flatten(document, "")) size += s.key.size() + s.value.size();
  Budget budget(expansion_budget(size));
  auto best = best_candidate(read_candidates(reader, document, context, budget));
  if (!best) return std::nullopt;
  return best->found;
}

std::string nothing_found_hint(std::string_view start, long long up, long long down,
                               std::string_view named_file, const ProjectPlan* plan) {
  if (!named_file.empty())
    return "💡 Read " + std::string(named_file) +
           " as named before the command, then DATABASE_URL and the PG* variables; none of them "
           "names a database. Run with --debug to see what was read.";
  return "💡 Looked for settings.py, config.json, .env, .json, .yaml and the settings files of "
         "Django, Rails, Laravel, Spring Boot, Docker Compose and other projects (env, JSON, YAML, "
         "TOML, INI and properties files) in " +
         std::string(start) + levels_text(up, down) + " (-dl " + std::to_string(down) + ", -ul " +
         std::to_string(up) + ")" + root_text(start, plan) +
         ", then in DATABASE_URL and the PG* variables; none of them names a database. Run with "
         "--debug to see the search, or name the file before the command: talvo path/to/.env "
         "show tables";
}

}  // namespace talvo::core
