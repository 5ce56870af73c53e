// query: one SQL text. A statement that returns rows, as the server describes
// it whatever its first word, shows them (a table of at most --limit rows, or
// CSV or JSON); one that returns none is executed and confirmed.
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/readout.hpp"
#include "core/sql_text.hpp"
#include "core/terminal.hpp"
#include "db/db.hpp"
#include "db/export.hpp"
#include "db/report.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"
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
// it runs in a transaction as one query that counts its rows on the server
// (core::counted_statement) and gives only the rows shown. Its effects (a
// volatile function, nextval) happen once, as they would in autocommit, and
// an error leaves nothing behind. The statement keeps its text inside that
// query, so pg_stat_activity shows it while it runs. A statement no query
// can hold (SHOW, EXPLAIN) is refused when the query is prepared, before
// anything runs, and is then fetched whole. In read-only mode all of it
// happens inside the read-only transaction. The savepoint is a statement of
// its own: a text of several statements is parsed whole before any runs, so
// a refusal by the parser would take the savepoint with it.
constexpr const char* kBegin = "BEGIN";
constexpr const char* kCommit = "COMMIT";
constexpr const char* kTry = "SAVEPOINT talvo_try";
constexpr const char* kTryAgain = "ROLLBACK TO SAVEPOINT talvo_try";

// What a read-only statement may have started in the session that outlives
// the transaction (a session advisory lock, a prepared statement, a temporary
// table's schema) goes with it before the command ends.
constexpr const char* kLeaveNothing = "DISCARD ALL";

// JSON is made from the server's text forms, so they must be the ones its
// rules read: ISO dates (the day-month order used to read dates is a part
// of DateStyle this leaves alone) and hex bytea. The session is this
// command's own.
constexpr const char* kJsonSession = "SET DateStyle = ISO; SET bytea_output = hex";

constexpr const char* kSyntaxError = "42601";

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

// The wrapper (DECLARE, COPY) could not hold the statement; nothing ran.
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

// The statement prepared as counted by the server, inside a savepoint; None
// when no query can hold it (nothing ran), the savepoint then undone.
bridge::Coroutine prepare_counted(nb::object conn, std::string counted) {
  bool refused_wrapping = false;
  co_await conn.attr("execute")(kTry);
  try {
    co_return co_await conn.attr("prepare")(nb::str(counted.data(), counted.size()));
  } catch (nb::python_error& e) {
    if (!refused(e)) throw;
    refused_wrapping = true;
  }
  if (refused_wrapping) co_await conn.attr("execute")(kTryAgain);
  co_return nb::none();
}

// The rows a table shows, how many the statement returned, and the column
// the statement's own columns start at: (rows, total, first column).
bridge::Coroutine rows_for_table(nb::object conn, nb::object statement, nb::object body,
                                 std::int64_t limit) {
  // A negative limit leaves out the last rows: every row comes anyway.
  if (limit >= 0) {
    const std::string counted =
        core::counted_statement(utf8(body), limit, core::RowForm::columns);
    bridge::Traced<> wrapped = co_await prepare_counted(conn, counted);
    if (!wrapped.is_none()) {
      bridge::Traced<> rows = co_await wrapped.attr("fetch")();
      nb::object total = nb::len(rows) == 0 ? nb::int_(0) : nb::object(rows[0][0]);
      co_return nb::make_tuple(nb::handle(rows), total, 1);
    }
  }
  bridge::Traced<> rows = co_await statement.attr("fetch")();
  co_return nb::make_tuple(nb::handle(rows), nb::len(rows), 0);
}

// CSV or JSON of the statement's rows, streamed to standard output; gives
// how many rows the statement returned. With a limit, the server counts the
// rows and only those written are transferred; without one, or for a
// statement no query holds, COPY streams them (CSV as the server writes
// it); what COPY cannot hold either (SHOW, EXPLAIN) is fetched whole.
bridge::Coroutine export_rows(nb::object conn, nb::object statement, nb::object body,
                              std::shared_ptr<Export> out, std::optional<std::int64_t> limit,
                              bool csv) {
  if (limit) {
    // A negative limit holds back the last rows: all of them are read.
    std::optional<std::int64_t> at_most = *limit >= 0 ? limit : std::nullopt;
    const std::string counted = core::counted_statement(utf8(body), at_most, core::RowForm::text);
    bridge::Traced<> wrapped = co_await prepare_counted(conn, counted);
    if (!wrapped.is_none()) co_return co_await counted_row_texts(wrapped, out);
  }

  // Unlimited CSV is COPY's own, passed straight through.
  const bool passthrough = csv && !limit;
  bool refused_copy = false;
  co_await conn.attr("execute")(kTry);
  bridge::Traced<> tag;
  try {
    tag = co_await copy_rows(conn, body, out, passthrough);
  } catch (nb::python_error& e) {
    if (out->received || !refused(e)) throw;
    refused_copy = true;
  }
  if (!refused_copy) {
    if (passthrough) co_return core::tag_count(text(tag)).value_or(0);
    co_return out->rows.seen();
  }
  co_await conn.attr("execute")(kTryAgain);
  bridge::Traced<> rows = co_await statement.attr("fetch")();
  export_records(rows, *out);
  co_return out->rows.seen();
}

void print_showing(std::int64_t limit, std::int64_t total) {
  print("⚠️ Showing " + std::to_string(limit) + " of " + std::to_string(total) + " rows",
        palette::warning, true);
}

// `first`: the column the statement's own columns start at.
void show_rows(nb::handle results, std::int64_t available, std::int64_t max_rows,
               std::size_t first) {
  if (available == 0) {
    print(kNoRows, palette::success);
    return;
  }
  // Column names and values come from the server: literal Text, never markup.
  nb::object Text = text_class();
  nb::object table = make_table(nb::str(kResultsTitle));
  nb::object add_column = table.attr("add_column");
  nb::list names(results[0].attr("keys")());
  for (std::size_t i = first; i < nb::len(names); ++i) {
    const std::string shown = core::visible_text(text(names[i]), core::LineBreaks::keep);
    add_column(Text(nb::str(shown.data(), shown.size())), "style"_a = "cyan");
  }

  std::int64_t shown = core::rows_shown(static_cast<std::int64_t>(nb::len(results)), max_rows);
  nb::object add_row = table.attr("add_row");
  for (std::int64_t i = 0; i < shown; ++i) {
    nb::list cells;
    // By position, so two columns of the same name keep their own values.
    std::size_t column = 0;
    for (nb::handle value : results[i]) {
      if (column++ >= first) cells.append(cell_text(Text, value, Cell::null_word));
    }
    add_row(*cells);
  }
  print_renderable(table);
  if (core::rows_left_out(available, max_rows)) print_showing(max_rows, available);
}

// What the spinner says while the server works on the statement.
constexpr const char* kRunning = "running query";

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
    bridge::Traced<> shown =
        co_await output::waiting(kRunning, rows_for_table(conn, statement, body, *limit).to_python());
    co_await conn.attr("execute")(end);
    if (reading) co_await conn.attr("execute")(kLeaveNothing);
    show_rows(shown[0], nb::cast<std::int64_t>(shown[1]), *limit, nb::cast<std::size_t>(shown[2]));
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
