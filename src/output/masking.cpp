#include <string>

#include "core/readout.hpp"
#include "output/output.hpp"

namespace talvo::output {
namespace {

constexpr int kMaxNesting = 32;

nb::object masked_at(nb::handle value, int depth) {
  if (depth > kMaxNesting) return nb::borrow(value);
  if (nb::isinstance<nb::str>(value)) {
    std::string original = utf8(value);
    std::string shown = core::mask_secrets(original);
    if (shown == original) return nb::borrow(value);
    return nb::str(shown.data(), shown.size());
  }
  if (nb::isinstance<nb::dict>(value)) {
    nb::dict copy;
    for (auto [key, item] : nb::borrow<nb::dict>(value)) {
      bool secret = nb::isinstance<nb::str>(key) && core::is_secret_key(utf8(key));
      if (secret && !item.is_none()) {
        std::string stars = core::mask_password(text(item));
        copy[key] = nb::str(stars.data(), stars.size());
      } else {
        copy[key] = masked_at(item, depth + 1);
      }
    }
    return copy;
  }
  if (nb::isinstance<nb::list>(value) || nb::isinstance<nb::tuple>(value)) {
    nb::list copy;
    for (nb::handle item : value) copy.append(masked_at(item, depth + 1));
    return nb::isinstance<nb::tuple>(value) ? nb::object(nb::tuple(copy)) : nb::object(copy);
  }
  return nb::borrow(value);
}

}  // namespace

nb::object masked(nb::handle value) { return masked_at(value, 0); }

std::string masked_text(nb::handle value) {
  return value.is_none() ? std::string("None") : core::mask_password(text(value));
}

}  // namespace talvo::output
