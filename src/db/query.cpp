// query: one SQL text; rows of a SELECT shown up to a limit, anything else
// executed and confirmed.
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/readout.hpp"
#include "core/terminal.hpp"
#include "db/db.hpp"
#include "db/report.hpp"
#include "output/palette.hpp"

namespace talvo::db {
namespace {


constexpr const char* kQueryRequired = "❌ Query required. Use -q/--query";
constexpr const char* kDestructive = "❌ Destructive queries not allowed in read-only mode";
constexpr const char* kNoRows = "✅ Query executed. No rows returned.";
constexpr const char* kExecuted = "✅ Query executed successfully";
constexpr const char* kResultsTitle = "Query Results";

// The server's half of --readonly: what the keyword scan cannot see (a
// function that writes, COPY FROM, GRANT, CALL, several statements in one
// text) fails inside a read-only transaction, as one prepared statement.
constexpr const char* kBeginReadOnly = "BEGIN TRANSACTION READ ONLY";
constexpr const char* kRollback = "ROLLBACK";

// A read-only transaction still lets its user write server files, run
// programs (COPY TO), signal other sessions, reload the configuration,
// switch WAL and force a checkpoint. pg_read_all_data (PostgreSQL 14 and
// later) may read every table and do none of those; nobody can log in as
// it, so it has no sessions of its own to signal. The statement runs as that
// role wherever the session may switch to it (a superuser always may).
// Where it may not, a role holding none of the powers that reach past the
// transaction runs the statement as itself; one that holds any is refused.
// Such an ordinary role can still cancel or end its own other sessions,
// which no setting inside a session prevents. Likewise a statement that sets
// the role back itself (set_config('role', ...)) regains the login's rights:
// this guards the statement's effects, not against one written to escape.
constexpr const char* kAsReader = "SET LOCAL ROLE pg_read_all_data";
constexpr const char* kHoldsPowersSql = R"(
    SELECT rolsuper OR EXISTS (
             SELECT 1 FROM pg_roles p
             WHERE p.rolname IN ('pg_signal_backend', 'pg_write_server_files',
                                 'pg_execute_server_program', 'pg_checkpoint')
               AND pg_has_role(current_user, p.oid, 'USAGE'))
    FROM pg_roles WHERE rolname = current_user)";
constexpr const char* kCannotSwitch =
    "read-only mode runs the query as pg_read_all_data (PostgreSQL 14 or later), which "
    "this role may not switch to: ";

nb::object query_text(nb::handle args) { return arg(args, "query"); }
bool read_only(nb::handle args) { return truthy(arg(args, "readonly")); }

bool admit(nb::handle args) {
  nb::object query = query_text(args);
  // Blanks alone are no query either.
  if (!truthy(query) || !truthy(query.attr("strip")())) {
    fail(kQueryRequired);
    return false;
  }
  if (read_only(args)) {
    std::string upper = text(query.attr("upper")());
    if (core::find_dangerous_keyword(upper)) {
      fail(kDestructive);
      return false;
    }
  }
  return true;
}

// Python's strip and upper, so Unicode blanks and letters count as they do
// for the operator's text.
bool selects(nb::handle args) {
  return core::is_select(text(query_text(args).attr("strip")().attr("upper")()));
}

// Starts the read-only transaction and settles whom the statement runs as;
// an error when the session may not run it at all.
bridge::Coroutine begin_reading(nb::object conn) {
  co_await conn.attr("execute")(kBeginReadOnly);
  std::optional<std::string> refused;
  try {
    co_await conn.attr("execute")(kAsReader);
    co_return nb::none();
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    refused = message(e);
  }
  // The failed switch aborted the transaction: start it again, as the login.
  co_await conn.attr("execute")(kRollback);
  co_await conn.attr("execute")(kBeginReadOnly);
  if (truthy(co_await conn.attr("fetchval")(kHoldsPowersSql)))
    throw std::runtime_error(kCannotSwitch + *refused);
  co_return nb::none();
}

bridge::Coroutine run_read_only(nb::object conn, nb::object query) {
  bridge::Traced<> rows;
  bridge::Traced<std::optional<nb::python_error>> failure;
  try {
    co_await begin_reading(conn);
    bridge::Traced<> statement = co_await conn.attr("prepare")(std::move(query));
    rows = co_await statement.attr("fetch")();
  } catch (nb::python_error& e) {
    // Closing: the caller terminates the connection, nothing may be awaited.
    if (e.matches(PyExc_GeneratorExit)) throw;
    failure.emplace(std::move(e));
  }
  try {
    co_await conn.attr("execute")(kRollback);
  } catch (nb::python_error& e) {
    // The statement's own error is the one to report.
    if (!failure || e.matches(PyExc_GeneratorExit)) throw;
  }
  if (failure) throw std::move(*failure);
  co_return rows;
}

nb::object start(nb::handle conn, nb::handle args) {
  nb::object query = query_text(args);
  if (read_only(args)) return run_read_only(nb::borrow(conn), query).to_python();
  if (selects(args)) return conn.attr("fetch")(query);
  return conn.attr("execute")(query);
}

std::int64_t display_limit(nb::handle args) {
  nb::object limit = arg(args, "limit");
  if (limit.is_none()) return core::display_limit(std::nullopt);
  return core::display_limit(nb::cast<std::int64_t>(limit));
}

void show_rows(nb::handle results, nb::handle args) {
  auto available = static_cast<std::int64_t>(nb::len(results));
  if (available == 0) {
    print(kNoRows, palette::success);
    return;
  }
  // Column names and values come from the server: literal Text, never markup.
  nb::object Text = text_class();
  nb::object table = make_table(nb::str(kResultsTitle));
  nb::object add_column = table.attr("add_column");
  for (nb::handle name : results[0].attr("keys")()) {
    const std::string shown = core::visible_text(text(name), core::LineBreaks::keep);
    add_column(Text(nb::str(shown.data(), shown.size())), "style"_a = "cyan");
  }

  std::int64_t max_rows = display_limit(args);
  std::int64_t shown = core::rows_shown(available, max_rows);
  nb::object add_row = table.attr("add_row");
  for (std::int64_t i = 0; i < shown; ++i) {
    nb::list cells;
    // By position, so two columns of the same name keep their own values.
    for (nb::handle value : results[i]) cells.append(cell_text(Text, value, Cell::null_word));
    add_row(*cells);
  }
  print_renderable(table);
  if (available > max_rows)
    print("⚠️ Showing " + std::to_string(max_rows) + " of " + std::to_string(available) + " rows",
          palette::warning, true);
}

void show(nb::handle result, nb::handle args) {
  if (selects(args))
    show_rows(result, args);
  else
    print(kExecuted, palette::success, true);
}

constexpr Handler kExecuteQuery = {DatabaseName::required, "❌ Query error: ", &admit, nullptr,
                                   &start, &show};

bridge::Coroutine execute_query(nb::object args) {
  co_return co_await run_handler(std::move(args), kExecuteQuery);
}

}  // namespace

void define_query(nb::module_& m) { m.def("execute_query", &execute_query, "args"_a); }

}  // namespace talvo::db
