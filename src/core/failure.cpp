#include "core/failure.hpp"

#include "core/terminal.hpp"

namespace talvo::core {

bool is_privilege_failure(std::string_view sqlstate) { return sqlstate == kInsufficientPrivilege; }

std::string server_error_text(std::string_view message, std::optional<std::string_view> detail,
                              std::optional<std::string_view> hint) {
  std::string out = visible_text(message);
  if (detail && !detail->empty()) out += "\nDETAIL:  " + visible_text(*detail);
  if (hint && !hint->empty()) out += "\nHINT:  " + visible_text(*hint);
  return out;
}

std::string error_text(std::string_view message) { return visible_text(message); }

std::string file_error_text(std::string_view path, long line, std::string_view kind,
                            std::string_view detail) {
  std::string out(path);
  if (line > 0) out += ": line " + std::to_string(line);
  out += ": ";
  out += kind;
  if (!detail.empty()) {
    out += ": ";
    out += detail;
  }
  return out;
}

}  // namespace talvo::core
