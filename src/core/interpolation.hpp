// Values that point one step away, and the limits on reading them:
//   ${NAME}, ${NAME:-default}, ${NAME:default}   (Compose, Spring, shells)
//   <%= ENV["NAME"] %>, <%= ENV['NAME'] %>, <%= ENV.fetch("NAME") { "d" } %>,
//   <%= ENV.fetch("NAME", "d") %>                (Rails' database.yml)
// A reference is looked up in the environment, then in the project's env
// files; what it gives may refer further, so every expansion spends from a
// budget that grows with the document's size, and a document whose
// references outgrow it is skipped as a whole.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace talvo::core {

// A settings document larger than this is not read.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{1} << 20;

// What the values of a document may grow to: a fixed allowance for the
// environment's own values, and a few times what the document holds.
inline constexpr std::size_t kBudgetFloor = 64 * 1024;
inline constexpr std::size_t kBudgetFactor = 8;
std::size_t expansion_budget(std::size_t document_bytes);

class Budget {
 public:
  explicit Budget(std::size_t bytes) : left_(bytes) {}
  // Takes `n` bytes; false (and exceeded from then on) when they are not there.
  bool spend(std::size_t n);
  bool exceeded() const { return exceeded_; }

 private:
  std::size_t left_;
  bool exceeded_ = false;
};

using Lookup = std::function<std::optional<std::string>(std::string_view name)>;

// ${...} references of `value` replaced. nullopt when a reference has
// neither a value nor a default (the value is then unknown), or when the
// budget runs out (see Budget::exceeded). A value found is expanded in turn,
// a few levels deep, as Spring resolves nested placeholders.
std::optional<std::string> interpolate(std::string_view value, const Lookup& lookup, Budget& budget);

// The ERB tags of a database.yml value that read the environment,
// replaced; nullopt when any other ERB is left (Rails would run it), when
// ENV.fetch finds no variable and has no default (Rails would stop there),
// or when the budget runs out. ENV["NAME"] of an unset variable reads as
// empty, as Ruby's nil does inside <%= %>.
std::optional<std::string> erb_value(std::string_view value, const Lookup& lookup, Budget& budget);

}  // namespace talvo::core
