// The program's version, read from the __version__.py beside the module.
#include <exception>
#include <string>

#include "cli/cli.hpp"
#include "core/version_file.hpp"

namespace talvo::cli {
namespace {

constexpr const char* kFallbackVersion = "2.0";

std::string get_version() {
  try {
    nb::object file = nb::getattr(self(), "__file__", nb::none());
    if (file.is_none()) return kFallbackVersion;
    nb::object path = nb::module_::import_("os.path");
    std::string version_file =
        nb::cast<std::string>(path.attr("join")(path.attr("dirname")(file), "__version__.py"));
    return core::version_from_file(version_file).value_or(kFallbackVersion);
  } catch (nb::python_error& e) {
    // The version line must always print; anything odd about the module's
    // location counts as "no version file".
    if (!is_ordinary(e)) throw;
    return kFallbackVersion;
  } catch (const std::exception&) {  // a path that is not valid UTF-8
    return kFallbackVersion;
  }
}

}  // namespace

void define_version(nb::module_& m) { m.def("get_version", &get_version); }

}  // namespace talvo::cli
