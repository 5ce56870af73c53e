#include "settings/project_reading.hpp"

#include <algorithm>
#include <fstream>

#include "core/document_rules.hpp"
#include "core/env_layers.hpp"
#include "core/search.hpp"
#include "settings/paths.hpp"
#include "settings/scope.hpp"

namespace talvo::settings {

namespace {

// Deep enough for any settings file; a Python mapping can refer to itself.
constexpr int kMaxNesting = 32;
// A DATABASES setting is small; one built to be large is not read whole.
constexpr std::size_t kMaxNodes = 200000;
// manage.py and a password file are read for a line or two.
constexpr std::size_t kSmallFileBytes = 64 * 1024;

struct NodeBudget {
  std::size_t left = kMaxNodes;
};

core::Node convert(nb::handle value, nb::handle lines, int depth, NodeBudget& budget) {
  if (value.is_none() || depth > kMaxNesting || budget.left == 0) return {};
  --budget.left;
  if (PyBool_Check(value.ptr())) return core::Node::boolean(value.ptr() == Py_True);
  if (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr())) return core::Node::number(text(value));
  if (nb::isinstance<nb::str>(value)) return core::Node::text(utf8(value));
  if (nb::isinstance<nb::dict>(value) || (nb::hasattr(value, "items") && nb::hasattr(value, "keys"))) {
    core::Node map = core::Node::map();
    bool with_lines = nb::isinstance<nb::dict>(lines) && PyDict_Size(lines.ptr()) > 0;
    nb::object id = with_lines ? nb::steal(PyLong_FromVoidPtr(value.ptr())) : nb::object();
    for (nb::handle item : value.attr("items")()) {
      core::Node& entry = map.add(text(item[0]), convert(item[1], lines, depth + 1, budget));
      if (!with_lines) continue;
      nb::object line = lines.attr("get")(nb::make_tuple(id, item[0]));
      if (PyLong_Check(line.ptr())) entry.line = nb::cast<std::uint32_t>(line);
    }
    return map;
  }
  if (nb::isinstance<nb::list>(value) || nb::isinstance<nb::tuple>(value)) {
    core::Node list = core::Node::list();
    for (nb::handle item : value) list.items.push_back(convert(item, lines, depth + 1, budget));
    return list;
  }
  return core::Node::text(text(value));
}

std::string join(const std::string& dir, std::string_view name) {
  while (name.starts_with("./")) name.remove_prefix(2);
  if (name.starts_with('/')) return std::string(name);
  return core::join_path(dir, std::string(name));
}

std::optional<std::string> read_small(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kSmallFileBytes, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

std::size_t bytes_of(const std::vector<core::KeyValue>& settings) {
  std::size_t n = 0;
  for (const core::KeyValue& s : settings) n += s.key.size() + s.value.size() + 2;
  return n;
}

}  // namespace

core::Node to_node(nb::handle value, nb::handle lines) {
  NodeBudget budget;
  return convert(value, lines, 0, budget);
}

ProjectReader::ProjectReader(core::ListingCache& cache, core::Environment env,
                             const std::vector<core::PlannedDirectory>& directories)
    : cache_(cache), env_(std::move(env)), mode_(core::env_mode(env_)) {
  for (const auto& d : directories) directories_.push_back(d.path);
}

bool ProjectReader::regular(const std::string& path) {
  std::string dir = core::parent_path(path);
  core::ListingCache::Directory& d = cache_.directory(dir);
  core::FileKind kind;
  return cache_.stat_in(d, dir, path.substr(path.rfind('/') + 1), false, kind) == 0 &&
         kind == core::FileKind::regular;
}

std::optional<ProjectReader::Loaded> ProjectReader::load(const std::string& path, bool note_failure) {
  nb::str file = fs_text(path);
  try {
    nb::object cfg = load_config(file);
    nb::object document = nb::getattr(cfg, "document", nb::getattr(cfg, "_data", nb::none()));
    Loaded loaded{to_node(document, nb::getattr(cfg, "lines", nb::none())), 0};
    loaded.bytes = nb::cast<std::size_t>(nb::module_::import_("os").attr("path").attr("getsize")(file));
    return loaded;
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    log("debug", "not read: " + text(file) + ": " + message(e));
    if (note_failure && !nb::hasattr(e.value(), "skipped")) note_unreadable(message(e));
    return std::nullopt;
  }
}

const std::vector<core::KeyValue>& ProjectReader::env_settings(const std::string& dir) {
  auto it = env_settings_.find(dir);
  if (it != env_settings_.end()) return it->second;
  std::vector<std::vector<core::KeyValue>> layers;
  for (const std::string& name : core::env_layer_files(mode_)) {
    std::string path = join(dir, name);
    if (!regular(path)) continue;
    if (auto loaded = load(path, true)) layers.push_back(core::flatten(loaded->node, path));
  }
  return env_settings_.emplace(dir, core::merge_layers(layers)).first->second;
}

core::ReadingContext ProjectReader::context_for(const std::string& dir, const std::string& file) {
  core::ReadingContext context;
  context.mode = mode_;
  context.rails_mode = core::rails_mode(env_);
  context.file = file;
  // The document's own directory first, then those above it, nearest first.
  std::vector<std::string> dirs{dir};
  for (const std::string& d : directories_)
    if (d != dir && dir.starts_with(d == "/" ? d : d + "/")) dirs.push_back(d);
  std::sort(dirs.begin() + 1, dirs.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  context.lookup = [this, dirs](std::string_view name) -> std::optional<std::string> {
    if (auto v = core::lookup(env_, name); v && !v->empty()) return std::string(*v);
    for (const std::string& d : dirs)
      for (const core::KeyValue& s : env_settings(d))
        if (s.key == name && !s.value.empty()) return s.value;
    return std::nullopt;
  };
  return context;
}

std::vector<core::Candidate> ProjectReader::judged(core::Reader reader,
                                                   std::vector<core::KeyValue> settings,
                                                   const core::ReadingContext& context,
                                                   std::size_t bytes) {
  std::size_t allowance = core::expansion_budget(bytes);
  core::Budget budget(allowance);
  auto candidates = core::read_settings(reader, std::move(settings), context, budget);
  if (budget.exceeded()) {
    announce_skipped(text(fs_text(context.file)) + ": its references expand past " +
                     std::to_string(allowance) + " bytes; not read");
    return {};
  }
  return candidates;
}

std::vector<core::Candidate> ProjectReader::read(const core::DocumentRef& doc, const std::string& dir) {
  switch (doc.rule) {
    case core::Rule::env: return read_env(core::parent_path(doc.path));
    case core::Rule::compose: return read_compose(doc.path, dir);
    case core::Rule::django:
      return doc.relative == "manage.py" ? read_manage_py(doc.path, dir) : read_django(doc.path, dir);
    case core::Rule::rails: return read_document(core::Reader::rails, doc.path, dir, true);
    case core::Rule::spring: return read_spring(doc.path, dir);
    case core::Rule::dotnet: return read_dotnet(doc.path, dir);
    case core::Rule::generic:
      return read_document(core::reader_for(doc.rule, doc.relative), doc.path, dir, false);
  }
  return {};
}

std::vector<core::Candidate> ProjectReader::read_named(const std::string& path, core::Reader reader) {
  std::string dir = core::parent_path(path);
  switch (reader) {
    case core::Reader::compose: return read_compose(path, dir);
    case core::Reader::django: return read_django(path, dir);
    default: return read_document(reader, path, dir, true);
  }
}

std::vector<core::Candidate> ProjectReader::read_env(const std::string& dir) {
  const std::vector<core::KeyValue>& settings = env_settings(dir);
  if (settings.empty()) return {};
  std::string file = settings.front().file;
  return judged(core::Reader::dotenv, settings, context_for(dir, file), bytes_of(settings));
}

std::vector<core::Candidate> ProjectReader::read_document(core::Reader reader, const std::string& path,
                                                          const std::string& dir, bool note_failure) {
  auto loaded = load(path, note_failure);
  if (!loaded) return {};
  return judged(reader, core::flatten(loaded->node, path), context_for(dir, path), loaded->bytes);
}

std::vector<core::Candidate> ProjectReader::read_compose(const std::string& path, const std::string& dir) {
  auto base = load(path, true);
  if (!base) return {};
  core::Node document = std::move(base->node);
  std::string override_path = join(dir, core::compose_override_name(path.substr(path.rfind('/') + 1)));
  if (regular(override_path))
    if (auto over = load(override_path, true)) document = core::merge_compose(document, over->node);

  core::ComposeInputs inputs;
  inputs.file = path;
  // Compose interpolates from the environment over the .env beside the file.
  inputs.interpolation = env_;
  std::string dotenv = join(dir, ".env");
  if (regular(dotenv))
    if (auto loaded = load(dotenv, true))
      for (const auto& [key, value] : loaded->node.entries)
        if (auto v = value.value()) inputs.interpolation.emplace(key, *v);
  for (const std::string& name : core::compose_env_files(document)) {
    std::string file = join(dir, name);
    if (!regular(file)) continue;  // `required: false`, or a file still to be made
    if (auto loaded = load(file, true))
      for (core::KeyValue& s : core::flatten(loaded->node, file)) inputs.env_files.push_back(std::move(s));
  }
  if (auto secret = core::compose_password_file(document, inputs.interpolation)) {
    std::string file = join(dir, *secret);
    if (regular(file)) inputs.password_file_text = read_small(file);
  }
  core::ReadingContext context = context_for(dir, path);
  context.compose = &inputs;
  core::Budget budget(core::expansion_budget(base->bytes));
  return core::read_candidates(core::Reader::compose, document, context, budget);
}

std::vector<core::Candidate> ProjectReader::read_django(const std::string& path, const std::string& dir) {
  if (std::find(django_read_.begin(), django_read_.end(), path) != django_read_.end()) return {};
  django_read_.push_back(path);
  nb::str file = fs_text(path);
  std::vector<core::Candidate> candidates;
  try {
    nb::object module = execute_settings(file);
    core::Node databases = to_node(nb::getattr(module, "DATABASES", nb::none()), nb::none());
    core::Budget budget(core::expansion_budget(kSmallFileBytes));
    candidates = core::read_candidates(core::Reader::django, databases, context_for(dir, path), budget);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    log("debug", "not read: " + text(file) + ": " + message(e));
    note_unreadable(message(e));
  }
  // A settings module that gave nothing (an import it cannot make, values
  // it expects from the environment): its project's .env says the same.
  if (candidates.empty()) {
    nb::object env_file = project_env_file(file);
    if (!env_file.is_none()) candidates = read_document(core::Reader::dotenv, fs_bytes(env_file), dir, true);
  }
  return candidates;
}

std::vector<core::Candidate> ProjectReader::read_manage_py(const std::string& path, const std::string& dir) {
  auto text = read_small(path);
  if (!text) return {};
  for (const std::string& name : core::django_settings_files(*text)) {
    std::string file = join(dir, name);
    if (regular(file)) return read_django(file, dir);
  }
  return {};
}

std::vector<core::Candidate> ProjectReader::read_spring(const std::string& path, const std::string& dir) {
  auto base = load(path, true);
  if (!base) return {};
  std::vector<std::vector<core::KeyValue>> layers{core::flatten(base->node, path)};
  std::size_t bytes = base->bytes;
  for (const std::string& file : core::spring_profile_files(path, core::spring_profiles(layers[0], env_))) {
    if (!regular(file)) continue;
    if (auto loaded = load(file, true)) {
      layers.push_back(core::flatten(loaded->node, file));
      bytes += loaded->bytes;
    }
  }
  return judged(core::Reader::spring, core::merge_layers(layers), context_for(dir, path), bytes);
}

std::vector<core::Candidate> ProjectReader::read_dotnet(const std::string& path, const std::string& dir) {
  auto base = load(path, true);
  if (!base) return {};
  std::vector<std::vector<core::KeyValue>> layers{core::flatten(base->node, path)};
  std::size_t bytes = base->bytes;
  std::string file = core::dotnet_environment_file(path, core::dotnet_environment(env_));
  if (regular(file))
    if (auto loaded = load(file, true)) {
      layers.push_back(core::flatten(loaded->node, file));
      bytes += loaded->bytes;
    }
  return judged(core::Reader::config, core::merge_layers(layers), context_for(dir, path), bytes);
}

}  // namespace talvo::settings
