// The module: start-up in the order the program relies on, then the routines.
#include "bridge/coroutine.hpp"
#include "cli/cli.hpp"
#include "db/db.hpp"
#include "output/output.hpp"
#include "settings/settings.hpp"

NB_MODULE(talvo, m) {
  using namespace talvo;

  // Handlers return coroutine objects of this type.
  bridge::define_coroutine_type(m);

  cli::scan_debug_switch();

  // The logger factory may replace tprint while the logger is made.
  m.attr("tprint") = nb::none();
  output::define_logger_factory(m);
  m.attr("logger") = m.attr("get_logger")("talvo.talvo");

  m.attr("HOST") = "127.0.0.1";
  m.attr("DEFAULT_PORT") = 5432;
  m.attr("_settings_cache") = nb::none();

  output::define_console(m);
  settings::define_loading(m);
  settings::define_search(m);
  settings::define_url(m);
  settings::define_extraction(m);
  cli::define_version(m);
  db::define_connection(m);
  settings::define_effective_config(m);
  db::define_reports(m);
  db::define_index_report(m);
  db::define_size_report(m);
  db::define_connect_check(m);
  db::define_describe(m);
  db::define_query(m);
  db::define_provisioning(m);
  db::define_drop_database(m);
  db::define_drop_user(m);
  db::define_backup(m);
  cli::define_grammar(m);
  cli::define_password_policy(m);
  cli::define_routing(m);
  cli::define_completion(m);
  cli::define_main(m);
}
