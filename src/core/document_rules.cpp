#include "core/document_rules.hpp"
#include "core/document.hpp"

namespace talvo::core {

namespace {

std::string folder_of(std::string_view file) {
  std::size_t slash = file.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(file.substr(0, slash + 1));
}

bool module_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '.';
}

}  // namespace

std::vector<std::string> spring_profiles(std::span<const KeyValue> base, const Environment& env) {
  std::string_view list;
  if (auto v = lookup(env, "SPRING_PROFILES_ACTIVE"); v && !v->empty()) {
    list = *v;
  } else {
    for (const KeyValue& s : base)
      if (s.key == "spring.profiles.active") list = s.value;
  }
  std::vector<std::string> profiles;
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    std::string_view p = trim(list.substr(0, comma));
    if (!p.empty() && p.find_first_of("${}/") == std::string_view::npos) profiles.emplace_back(p);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return profiles;
}

std::vector<std::string> spring_profile_files(std::string_view base_file,
                                              std::span<const std::string> profiles) {
  std::vector<std::string> files;
  std::string folder = folder_of(base_file);
  for (const std::string& p : profiles)
    for (std::string_view ext : {".properties", ".yml", ".yaml"})
      files.push_back(folder + "application-" + p + std::string(ext));
  return files;
}

std::string dotnet_environment(const Environment& env) {
  for (std::string_view name : {"ASPNETCORE_ENVIRONMENT", "DOTNET_ENVIRONMENT"})
    if (auto v = lookup(env, name); v && !v->empty()) return std::string(*v);
  return "Development";
}

std::string dotnet_environment_file(std::string_view base_file, std::string_view environment) {
  return folder_of(base_file) + "appsettings." + std::string(environment) + ".json";
}

std::vector<std::string> django_settings_files(std::string_view text) {
  constexpr std::string_view name = "DJANGO_SETTINGS_MODULE";
  std::size_t at = text.find(name);
  while (at != std::string_view::npos) {
    // setdefault("DJANGO_SETTINGS_MODULE", "mysite.settings"), or an
    // assignment: the quoted module after the comma or the equals sign.
    std::string_view rest = text.substr(at + name.size());
    rest = rest.substr(0, rest.find('\n'));
    std::size_t separator = rest.find_first_of(",=");
    std::size_t open = rest.find_first_of("\"'", separator == std::string_view::npos ? rest.size() : separator);
    if (open != std::string_view::npos) {
      std::string_view module = rest.substr(open + 1);
      std::size_t end = 0;
      while (end < module.size() && module_character(module[end])) ++end;
      if (end > 0 && end < module.size() && module[end] == rest[open]) {
        std::string path(module.substr(0, end));
        for (char& c : path)
          if (c == '.') c = '/';
        return {path + ".py", path + "/__init__.py"};
      }
    }
    at = text.find(name, at + name.size());
  }
  return {};
}

}  // namespace talvo::core
