#include "core/interpolation.hpp"
#include "core/document.hpp"

#include <cctype>

namespace talvo::core {

namespace {

// Spring resolves placeholders inside placeholders; deeper than this a
// value is taken as it stands.
constexpr int kMaxDepth = 32;

// Spring's relaxed binding: ${spring.datasource.password} is also
// SPRING_DATASOURCE_PASSWORD in the environment.
std::string environment_spelling(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '.' || c == '-') c = '_';
    out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return out;
}

std::optional<std::string> find(const Lookup& lookup, std::string_view name) {
  if (name.empty()) return std::nullopt;
  auto v = lookup(name);
  if ((!v || v->empty()) && name.find_first_of(".-") != std::string_view::npos)
    v = lookup(environment_spelling(name));
  if (v && v->empty()) return std::nullopt;
  return v;
}

bool append(std::string& out, std::string_view piece, Budget& budget) {
  if (!budget.spend(piece.size() + 1)) return false;
  out.append(piece);
  return true;
}

std::optional<std::string> expand(std::string_view value, const Lookup& lookup, Budget& budget,
                                  int depth) {
  std::string out;
  std::size_t i = 0;
  while (i < value.size()) {
    std::size_t open = value.find("${", i);
    if (open == std::string_view::npos) {
      if (!append(out, value.substr(i), budget)) return std::nullopt;
      break;
    }
    if (!append(out, value.substr(i, open - i), budget)) return std::nullopt;
    std::size_t j = open + 2;
    int nesting = 1;
    for (; j < value.size() && nesting > 0; ++j) {
      if (value[j] == '{') ++nesting;
      if (value[j] == '}') --nesting;
    }
    if (nesting > 0) return std::nullopt;  // never closed
    std::string_view inner = value.substr(open + 2, j - open - 3);
    std::size_t colon = inner.find(':');
    std::string_view name = trim(inner.substr(0, colon));
    std::optional<std::string_view> fallback;
    if (colon != std::string_view::npos) {
      std::string_view rest = inner.substr(colon + 1);
      if (rest.starts_with('-')) rest.remove_prefix(1);
      fallback = rest;
    }
    std::optional<std::string> piece;
    if (auto found = find(lookup, name))
      piece = depth < kMaxDepth ? expand(*found, lookup, budget, depth + 1) : found;
    else if (fallback)
      piece = depth < kMaxDepth ? expand(*fallback, lookup, budget, depth + 1)
                                : std::string(*fallback);
    if (!piece || !append(out, *piece, budget)) return std::nullopt;
    i = j;
  }
  return out;
}

// A Ruby string or plain literal at the front of `s`; nil, true and false
// read as Ruby prints them inside <%= %>.
std::optional<std::string> literal(std::string_view& s) {
  s = trim(s);
  if (s.empty()) return std::nullopt;
  if (s.front() == '"' || s.front() == '\'') {
    std::size_t close = s.find(s.front(), 1);
    if (close == std::string_view::npos) return std::nullopt;
    std::string text(s.substr(1, close - 1));
    s.remove_prefix(close + 1);
    return text;
  }
  std::size_t end = 0;
  while (end < s.size() && (std::isalnum(static_cast<unsigned char>(s[end])) || s[end] == '.' ||
                            s[end] == '_'))
    ++end;
  if (end == 0) return std::nullopt;
  std::string word(s.substr(0, end));
  s.remove_prefix(end);
  if (word == "nil") return std::string();
  return word;
}

bool consume(std::string_view& s, std::string_view token) {
  s = trim(s);
  if (!s.starts_with(token)) return false;
  s.remove_prefix(token.size());
  return true;
}

// The value of one tag's Ruby: ENV["X"], ENV["X"] || "d", ENV.fetch("X"),
// ENV.fetch("X", "d"), ENV.fetch("X") { "d" }. nullopt: anything else, or
// a fetch that would raise.
std::optional<std::string> ruby_value(std::string_view code, const Lookup& lookup) {
  std::string_view s = trim(code);
  if (consume(s, "ENV[")) {
    auto name = literal(s);
    if (!name || !consume(s, "]")) return std::nullopt;
    auto found = find(lookup, *name);
    if (consume(s, "||")) {
      auto fallback = literal(s);
      if (!fallback || !trim(s).empty()) return std::nullopt;
      return found ? *found : *fallback;
    }
    if (!trim(s).empty()) return std::nullopt;
    return found ? *found : std::string();
  }
  if (consume(s, "ENV.fetch(")) {
    auto name = literal(s);
    if (!name) return std::nullopt;
    std::optional<std::string> fallback;
    if (consume(s, ",")) {
      fallback = literal(s);
      if (!fallback || !consume(s, ")")) return std::nullopt;
    } else {
      if (!consume(s, ")")) return std::nullopt;
      if (consume(s, "{")) {
        fallback = literal(s);
        if (!fallback || !consume(s, "}")) return std::nullopt;
      }
    }
    if (!trim(s).empty()) return std::nullopt;
    if (auto found = find(lookup, *name)) return found;
    return fallback;
  }
  return std::nullopt;
}

}  // namespace

std::size_t expansion_budget(std::size_t document_bytes) {
  return kBudgetFloor + kBudgetFactor * document_bytes;
}

bool Budget::spend(std::size_t n) {
  if (exceeded_ || n > left_) {
    exceeded_ = true;
    return false;
  }
  left_ -= n;
  return true;
}

std::optional<std::string> interpolate(std::string_view value, const Lookup& lookup, Budget& budget) {
  if (value.find("${") == std::string_view::npos) return std::string(value);
  return expand(value, lookup, budget, 0);
}

std::optional<std::string> erb_value(std::string_view value, const Lookup& lookup, Budget& budget) {
  std::string out;
  std::size_t i = 0;
  while (i < value.size()) {
    std::size_t open = value.find("<%", i);
    if (open == std::string_view::npos) {
      if (!append(out, value.substr(i), budget)) return std::nullopt;
      break;
    }
    if (!append(out, value.substr(i, open - i), budget)) return std::nullopt;
    std::size_t close = value.find("%>", open);
    if (close == std::string_view::npos || open + 2 >= close || value[open + 2] != '=')
      return std::nullopt;
    std::string_view code = value.substr(open + 3, close - open - 3);
    if (code.ends_with('-')) code.remove_suffix(1);
    auto piece = ruby_value(code, lookup);
    if (!piece || !append(out, *piece, budget)) return std::nullopt;
    i = close + 2;
  }
  return out;
}

}  // namespace talvo::core
