// Connection settings discovery.
#pragma once

#include "pyutil.hpp"

namespace talvo::settings {

void define_loading(nb::module_& m);           // load_settings_from_path
void define_search(nb::module_& m);            // find_settings_recursive1, find_any_config, find_settings_recursive
void define_url(nb::module_& m);               // parse_postgresql_url
void define_extraction(nb::module_& m);        // parse_django_settings
void define_effective_config(nb::module_& m);  // get_db_config_or_args

}  // namespace talvo::settings
