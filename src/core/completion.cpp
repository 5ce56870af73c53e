#include "core/completion.hpp"

namespace talvo::core {
namespace {

constexpr std::string_view kOption = "--completion";
constexpr std::string_view kAnyCommand = "*";
constexpr std::string_view kAnyDest = "*";

struct ValueRule {
  std::string_view command;
  std::string_view dest;
  ValueCompletion completion;
};

// The first rule that matches decides.
constexpr ValueRule kValueRules[] = {
    {"", "CONFIG_FILE", ValueCompletion::files},
    // Every value of create names a role or database that does not exist yet.
    {"create", kAnyDest, ValueCompletion::nothing},
    // Only drop's -u names an existing role.
    {"drop user", "username", ValueCompletion::roles},
    {kAnyCommand, "database", ValueCompletion::databases},
    {kAnyCommand, "table", ValueCompletion::tables},
};

bool matches(std::string_view pattern, std::string_view value, std::string_view any) {
  return pattern == any || pattern == value;
}

bool is_shell(std::string_view word) {
  for (std::string_view shell : kCompletionShells)
    if (word == shell) return true;
  return false;
}

}  // namespace

std::optional<std::string_view> completion_request(std::span<const std::string_view> words) {
  std::optional<std::string_view> shell;
  if (words.size() == 2 && words[0] == kOption) shell = words[1];
  if (words.size() == 1 && words[0].starts_with(kOption) && words[0].size() > kOption.size() &&
      words[0][kOption.size()] == '=')
    shell = words[0].substr(kOption.size() + 1);
  if (shell && is_shell(*shell)) return shell;
  return std::nullopt;
}

ValueCompletion value_completion(std::string_view command, std::string_view dest,
                                 bool has_choices) {
  for (const ValueRule& rule : kValueRules)
    if (matches(rule.command, command, kAnyCommand) && matches(rule.dest, dest, kAnyDest))
      return rule.completion;
  return has_choices ? ValueCompletion::grammar : ValueCompletion::nothing;
}

bool is_live(ValueCompletion completion) {
  return completion == ValueCompletion::databases || completion == ValueCompletion::tables ||
         completion == ValueCompletion::roles;
}

std::optional<std::string_view> table_database(std::optional<std::string_view> on_line,
                                               std::optional<std::string_view> discovered) {
  if (on_line && !on_line->empty()) return on_line;
  if (discovered && !discovered->empty()) return discovered;
  return std::nullopt;
}

// What argcomplete escapes for one shell or another, and the colon zsh takes
// for the start of a description.
constexpr std::string_view kQuotedCharacters = "\\();<>|&!`$*?[]{} \t\n\"':";

bool offerable_name(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

bool needs_no_quoting(std::string_view word) {
  return word.find_first_of(kQuotedCharacters) == std::string_view::npos;
}

}  // namespace talvo::core
