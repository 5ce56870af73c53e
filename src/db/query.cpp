// query: one SQL text. A statement that returns rows, as the server describes
// it whatever its first word, shows them (a table of at most --limit rows, or
// CSV or JSON); one that returns none is executed and confirmed.
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/readout.hpp"
#include "core/sql_text.hpp"
#include "core/terminal.hpp"
#include "db/db.hpp"
#include "db/export.hpp"
#include "db/report.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"
#include "output/table_output.hpp"
#include "output/waiting.hpp"

namespace talvo::db {
namespace {


constexpr const char* kQueryRequired = "❌ Query required. Use -q/--query";
constexpr const char* kDestructive = "❌ Destructive queries not allowed in read-only mode";
constexpr const char* kEndsTransaction = " not allowed in read-only mode: it ends the transaction";
constexpr const char* kBadLimit =
    "❌ --limit must be a whole number from -9223372036854775808 to 9223372036854775807";
constexpr const char* kNoRows = "✅ Query executed. No rows returned.";
constexpr const char* kExecuted = "✅ Query executed successfully";
constexpr const char* kResultsTitle = "Query Results";
// What the spinner says while the server works on the statement.
constexpr const char* kRunning = "running query";

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

// Only the rows shown are transferred, however many the statement returns:
// it runs in a transaction inside one query that numbers its rows on the
// server (core::counted_statement), through a portal of that prepared query
// whose rows come in batches, so pg_stat_activity shows the query, and the
// statement within it, for as long as it runs. Its effects (a volatile
// function, nextval) happen once, as they would in autocommit, and an error
// leaves nothing behind. A statement no query can hold (SHOW, EXPLAIN) is
// refused when the query is prepared, before anything runs, and its own
// portal then gives every row. In read-only mode all of it happens inside
// the read-only transaction. The savepoint is a statement of its own: a text
// of several statements is parsed whole before any runs, so a refusal by the
// parser would take the savepoint with it.
constexpr const char* kBegin = "BEGIN";
constexpr const char* kCommit = "COMMIT";
constexpr const char* kTry = "SAVEPOINT talvo_try";
constexpr const char* kTryAgain = "ROLLBACK TO SAVEPOINT talvo_try";

// JSON is made from the server's text forms, so they must be the ones its
// rules read: ISO dates (the day-month order used to read dates is a part
// of DateStyle this leaves alone) and hex bytea. The session is this
// command's own.
constexpr const char* kJsonSession = "SET DateStyle = ISO; SET bytea_output = hex";

constexpr const char* kSyntaxError = "42601";

// What a read-only statement may have started in the session that outlives
// the transaction (a session advisory lock, a prepared statement, a temporary
// table's schema) goes with it before the command ends.
constexpr const char* kLeaveNothing = "DISCARD ALL";

nb::object query_text(nb::handle args) { return arg(args, "query"); }
bool read_only(nb::handle args) { return truthy(arg(args, "readonly")); }

bool limit_fits(nb::handle args) {
  nb::object limit = arg(args, "limit");
  if (limit.is_none()) return true;
  int overflow = 0;
  PyLong_AsLongLongAndOverflow(limit.ptr(), &overflow);
  if (PyErr_Occurred()) throw nb::python_error();
  return overflow == 0;
}

bool admit(nb::handle args) {
  nb::object query = query_text(args);
  // Blanks alone are no query either.
  if (!truthy(query) || !truthy(query.attr("strip")())) {
    fail(kQueryRequired);
    return false;
  }
  if (!limit_fits(args)) {
    fail(kBadLimit);
    return false;
  }
  if (read_only(args)) {
    std::string upper = text(query.attr("upper")());
    if (core::find_dangerous_keyword(upper)) {
      fail(kDestructive);
      return false;
    }
    // A prepared transaction outlives the session and everything rolled
    // back; a COMMIT would end the read-only transaction early.
    if (auto control = core::transaction_control(utf8(query))) {
      fail("❌ " + std::string(*control) + kEndsTransaction);
      return false;
    }
  }
  return true;
}

std::string sqlstate(const nb::python_error& e) {
  nb::object state = nb::getattr(e.value(), "sqlstate", nb::none());
  return state.is_none() ? std::string() : text(state);
}

// The wrapper (a counting query, COPY) could not hold the statement;
// nothing ran.
bool refused(const nb::python_error& e) {
  return is_ordinary(e) && core::refuses_wrapping(sqlstate(e));
}

// The statement as it is to be wrapped; the text keeps what the operator
// typed, bytes that are not UTF-8 included.
nb::object body_of(nb::handle query) {
  const std::string typed = utf8(query);
  std::string_view body = core::statement_body(typed);
  return nb::steal(PyUnicode_DecodeUTF8(body.data(), static_cast<Py_ssize_t>(body.size()),
                                        "surrogateescape"));
}

std::optional<std::int64_t> given_limit(nb::handle args) {
  nb::object limit = arg(args, "limit");
  if (limit.is_none()) return std::nullopt;
  return nb::cast<std::int64_t>(limit);
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

// The statement prepared as counted (core::counted_statement), held by the
// first holder that takes it; None when none does (nothing ran).
bridge::Coroutine prepare_counted(nb::object conn, nb::object body, std::size_t columns,
                                  std::optional<std::int64_t> shown, core::RowForm form) {
  for (core::Holder holder : {core::Holder::subquery, core::Holder::with_query}) {
    const std::string counted = core::counted_statement(utf8(body), columns, shown, form, holder);
    bool refused_holder = false;
    co_await conn.attr("execute")(kTry);
    try {
      co_return co_await conn.attr("prepare")(
          nb::steal(PyUnicode_DecodeUTF8(counted.data(), static_cast<Py_ssize_t>(counted.size()),
                                         "surrogateescape")));
    } catch (nb::python_error& e) {
      if (!refused(e)) throw;
      refused_holder = true;
    }
    if (refused_holder) co_await conn.attr("execute")(kTryAgain);
  }
  co_return nb::none();
}

// The statement's rows on their way into a table, with the window a limit
// cuts from them. Lives in the coroutine that fetches the rows.
struct TableRows {
  TableRows(std::vector<core::TableColumn> columns, std::int64_t limit)
      : out(kResultsTitle, std::move(columns)), rows(out, core::row_window(limit)) {}

  // Rows of a counted statement start with the count, null but in the row
  // that carries it. Rows after the pager was quit are still counted.
  void add(nb::handle records, bool counted) {
    for (nb::handle record : records) {
      if (counted && !record[0].is_none()) {
        total = nb::cast<std::int64_t>(record[0]);
        continue;
      }
      rows.row(cells.of_values(record, Cell::null_word, counted ? 1 : 0));
    }
  }

  output::TableOutput out;
  core::WindowedRows rows;
  CellTexts cells;
  std::optional<std::int64_t> total;  // the count row's, when one came
};

// Rows asked of the portal at a time once the table has its columns: the
// first fetch takes the table's whole window.
constexpr std::int64_t kBatchRows = 5000;

// Streams the statement's rows into `table`, at most `limit` of them (all
// but the last -limit when it is negative); gives how many rows the
// statement returned. The spinner shows while the server works and nothing
// is drawn: at the first fetch, and while the rest are counted, but never
// over the pager.
bridge::Coroutine rows_into_table(nb::object conn, nb::object statement, nb::object body,
                                  std::int64_t limit, std::shared_ptr<TableRows> table) {
  const std::optional<std::int64_t> shown = core::row_window(limit).first;
  bridge::Traced<> wrapped = co_await prepare_counted(
      conn, body, nb::len(statement.attr("get_attributes")()), shown, core::RowForm::columns);
  const bool counted = !wrapped.is_none();
  nb::handle source = counted ? nb::handle(wrapped) : nb::handle(statement);
  bridge::Traced<> portal = co_await source.attr("cursor")();

  // A counted statement returns at most one row more than it shows.
  std::int64_t want = static_cast<std::int64_t>(core::TableWriter::kWindowRows);
  if (counted && shown) want = std::min(want, *shown) + 1;
  bridge::Traced<> rows = co_await output::waiting(kRunning, portal.attr("fetch")(want));
  for (;;) {
    table->add(rows, counted);
    const bool more = static_cast<std::int64_t>(nb::len(rows)) == want;
    rows = nb::none();
    if (!more) break;
    want = kBatchRows;
    if (auto left = table->rows.still_wanted(); left && counted) want = std::min(want, *left + 1);
    if (table->rows.full() && !table->out.paging())
      rows = co_await output::waiting(kRunning, portal.attr("fetch")(want));
    else
      rows = co_await portal.attr("fetch")(want);
  }
  co_return nb::int_(table->total.value_or(table->rows.seen()));
}

// CSV or JSON of the statement's rows, streamed to standard output; gives
// how many rows the statement returned. With a limit, a counted statement
// leaves the rows not written on the server; without one, COPY streams them
// (CSV as the server writes it). What neither holds (SHOW, EXPLAIN) comes
// through its own portal.
bridge::Coroutine export_rows(nb::object conn, nb::object statement, nb::object body,
                              std::shared_ptr<Export> out, std::optional<std::int64_t> limit,
                              bool csv) {
  if (limit) {
    bridge::Traced<> counted = co_await prepare_counted(
        conn, body, nb::len(statement.attr("get_attributes")()), core::row_window(limit).first,
        core::RowForm::text);
    if (!counted.is_none()) {
      bridge::Traced<> portal = co_await counted.attr("cursor")();
      co_return co_await counted_row_texts(portal, out);
    }
  } else {
    // Unlimited CSV is COPY's own, passed straight through.
    bool refused_copy = false;
    co_await conn.attr("execute")(kTry);
    bridge::Traced<> tag;
    try {
      tag = co_await copy_rows(conn, body, out, csv);
    } catch (nb::python_error& e) {
      if (out->received || !refused(e)) throw;
      refused_copy = true;
    }
    if (!refused_copy) {
      if (csv) co_return nb::int_(core::tag_count(text(tag)).value_or(0));
      co_return nb::int_(out->rows.seen());
    }
    co_await conn.attr("execute")(kTryAgain);
  }
  bridge::Traced<> portal = co_await statement.attr("cursor")();
  co_return co_await portal_records(portal, out);
}

void print_showing(std::int64_t limit, std::int64_t total) {
  print("⚠️ Showing " + std::to_string(limit) + " of " + std::to_string(total) + " rows",
        palette::warning, true);
}

bridge::Coroutine run_query(nb::object conn, nb::object args) {
  const bool reading = read_only(args);
  const core::DataFormat format = output_format(args);
  if (format == core::DataFormat::json) co_await conn.attr("execute")(kJsonSession);
  if (reading) co_await begin_reading(conn);

  bridge::Traced<> statement;
  bool several = false;
  try {
    statement = co_await conn.attr("prepare")(query_text(args));
  } catch (nb::python_error& e) {
    // Several statements in one text cannot be prepared; outside read-only
    // mode they run as one text, as they always have.
    if (reading || !is_ordinary(e) || sqlstate(e) != kSyntaxError) throw;
    several = true;
  }
  if (several) {
    co_await output::waiting(kRunning, conn.attr("execute")(query_text(args)));
    print(kExecuted, palette::success, true);
    co_return nb::none();
  }

  bridge::Traced<> attributes = statement.attr("get_attributes")();
  if (nb::len(attributes) == 0) {
    if (reading) {
      co_await output::waiting(kRunning, statement.attr("fetch")());
      co_await conn.attr("execute")(kRollback);
      co_await conn.attr("execute")(kLeaveNothing);
    } else {
      co_await output::waiting(kRunning, conn.attr("execute")(query_text(args)));
    }
    print(kExecuted, palette::success, true);
    co_return nb::none();
  }

  bridge::Traced<> body = body_of(query_text(args));
  const std::optional<std::int64_t> limit = core::row_limit(format, given_limit(args));
  const char* end = reading ? kRollback : kCommit;
  if (!reading) co_await conn.attr("execute")(kBegin);

  if (format == core::DataFormat::table) {
    std::vector<core::TableColumn> columns;
    for (nb::handle attribute : attributes)
      columns.push_back({shown_name(text(attribute.attr("name"))), "cyan"});
    auto table = std::make_shared<TableRows>(std::move(columns), *limit);
    auto total = nb::cast<std::int64_t>(
        co_await rows_into_table(conn, statement, body, *limit, table));
    co_await conn.attr("execute")(end);
    if (reading) co_await conn.attr("execute")(kLeaveNothing);
    table->out.finish(false);
    if (total == 0) print(kNoRows, palette::success);
    if (core::rows_left_out(total, limit)) print_showing(*limit, total);
    co_return nb::none();
  }

  auto out = std::make_shared<Export>(format, columns_of_statement(attributes),
                                      core::row_window(limit));
  auto total = nb::cast<std::int64_t>(
      co_await export_rows(conn, statement, body, out, limit, format == core::DataFormat::csv));
  co_await conn.attr("execute")(end);
  if (reading) co_await conn.attr("execute")(kLeaveNothing);
  // Only now is the result whole: a JSON array left open says it is not.
  out->writer.end();
  out->drain(true);
  output::flush_data();
  if (total == 0) print(kNoRows, palette::success);
  if (core::rows_left_out(total, limit)) print_showing(*limit, total);
  co_return nb::none();
}

nb::object start(nb::handle conn, nb::handle args) {
  return run_query(nb::borrow(conn), nb::borrow(args)).to_python();
}

constexpr Handler kExecuteQuery = {DatabaseName::required, "❌ Query error: ", &admit, nullptr,
                                   &start, nullptr};

bridge::Coroutine execute_query(nb::object args) {
  co_return co_await run_handler(std::move(args), kExecuteQuery);
}

}  // namespace

void define_query(nb::module_& m) { m.def("execute_query", &execute_query, "args"_a); }

}  // namespace talvo::db
