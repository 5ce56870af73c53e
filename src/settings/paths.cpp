#include "settings/paths.hpp"

namespace talvo::settings {

std::string fs_bytes(nb::handle path) {
  nb::object encoded = nb::module_::import_("os").attr("fsencode")(path);
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(encoded.ptr(), &data, &size) != 0) throw nb::python_error();
  return std::string(data, static_cast<std::size_t>(size));
}

nb::str fs_text(const std::string& path) {
  PyObject* text =
      PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()));
  if (text == nullptr) throw nb::python_error();
  return nb::steal<nb::str>(text);
}

nb::object optional_text(const std::optional<std::string>& path) {
  return path ? nb::object(fs_text(*path)) : nb::none();
}

}  // namespace talvo::settings
