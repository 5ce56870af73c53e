// Settings one step away, by the rules of the frameworks that write them:
// Spring Boot's active profiles, .NET's environment file, and the settings
// module a Django project's manage.py names.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document.hpp"
#include "core/environment_stage.hpp"

namespace talvo::core {

// The profiles Spring Boot activates: SPRING_PROFILES_ACTIVE, else the
// base file's spring.profiles.active; comma-separated, in order.
std::vector<std::string> spring_profiles(std::span<const KeyValue> base, const Environment& env);

// The files of `profiles` beside a base file ("src/main/resources/
// application.yml"): application-<profile>.properties, .yml and .yaml, in
// the order Spring reads them, each later one overriding.
std::vector<std::string> spring_profile_files(std::string_view base_file,
                                              std::span<const std::string> profiles);

// ASPNETCORE_ENVIRONMENT, else DOTNET_ENVIRONMENT, else Development.
std::string dotnet_environment(const Environment& env);

// appsettings.<environment>.json beside appsettings.json.
std::string dotnet_environment_file(std::string_view base_file, std::string_view environment);

// The files DJANGO_SETTINGS_MODULE names in manage.py's text, relative to
// manage.py's directory ("mysite/settings.py", "mysite/settings/__init__.py").
std::vector<std::string> django_settings_files(std::string_view manage_py);

}  // namespace talvo::core
