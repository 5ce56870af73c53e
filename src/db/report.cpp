#include "db/report.hpp"

#include <datetime.h>

#include "core/pg_text.hpp"
#include "core/terminal.hpp"
#include "core/where.hpp"
#include "db/export.hpp"
#include "db/session.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"
#include "output/table_output.hpp"
#include "settings/project.hpp"
#include "settings/target.hpp"

#include <exception>
#include <string>
#include <vector>

namespace talvo::db {
namespace {


constexpr const char* kUsingDatabase = "📄 Using database: ";
constexpr const char* kDatabaseRequired = "❌ Database name required. Use -d/--database";

}  // namespace

bool settle_database(nb::handle args, DatabaseName policy) {
  if (policy == DatabaseName::not_used || truthy(arg(args, "database"))) return true;
  nb::object config = routine("parse_django_settings")(
      arg(args, "CONFIG_FILE"), "max_depth_up"_a = arg(args, "up_level"),
      "max_depth_down"_a = arg(args, "down_level"));
  nb::object name = truthy(config) ? config.attr("get")("database") : nb::none();
  if (truthy(name)) {
    nb::setattr(args, "database", name);
    print(kUsingDatabase + core::visible_text(text(name)), palette::info);
    return true;
  }
  if (policy == DatabaseName::required) {
    fail(kDatabaseRequired);
    settings::print_nothing_found_hint(args);
    return false;
  }
  return true;
}

namespace {

// get_connection to where the command connects, which also announces it.
// The database reached goes onto the record, so what the handler prints
// names it.
nb::object connection_call(nb::handle args, bool with_database) {
  using core::Setting;
  core::Target target = settings::command_target(
      args, with_database ? core::Purpose::database : core::Purpose::maintenance);
  // The passwords stay out: --where's lines say only whether one is set.
  log("debug", "target:\n" + core::where_text(target));
  if (with_database) nb::setattr(args, "database", settings::as_text(target.values[Setting::database]));
  return routine("get_connection")(
      "host"_a = settings::as_text(target.values[Setting::host]),
      "port"_a = settings::as_port(target.values[Setting::port]),
      "user"_a = settings::as_text(target.values[Setting::user]),
      "password"_a = settings::as_text(target.values[Setting::password]),
      "database"_a = settings::as_text(target.values[Setting::database]),
      "auto_settings"_a = false, "max_depth_up"_a = arg(args, "up_level"),
      "max_depth_down"_a = arg(args, "down_level"));
}

// Errors of the statement phase end the command normally, with one line.
void report_error(const Handler& handler, const std::string& msg) {
  fail(handler.error_prefix + msg);
}

}  // namespace


std::string fill(const char* pattern, std::string_view name) {
  std::string out = pattern;
  auto at = out.find("{}");
  if (at != std::string::npos) out.replace(at, 2, name);
  return out;
}

namespace {

void import_datetime() {
  if (PyDateTimeAPI == nullptr) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) throw nb::python_error();
  }
}

// str() of a date or datetime, written here since tables are full of them;
// other types (and subclasses, which may write themselves otherwise) are
// left to str(). asyncpg gives the server's infinity and -infinity dates and
// time stamps as the extreme values of Python's date and datetime (naive
// ones, for a timestamptz column too), which would print as years 9999 and 1.
std::optional<std::string_view> datetime_text(nb::handle value, std::string& storage) {
  import_datetime();
  PyObject* o = value.ptr();
  const bool is_datetime = PyDateTime_CheckExact(o);
  if (!is_datetime && !PyDate_CheckExact(o)) return std::nullopt;
  core::DateTimeParts t{PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o), PyDateTime_GET_DAY(o),
                        0, 0, 0, 0, std::nullopt};
  if (is_datetime) {
    t.hour = PyDateTime_DATE_GET_HOUR(o);
    t.minute = PyDateTime_DATE_GET_MINUTE(o);
    t.second = PyDateTime_DATE_GET_SECOND(o);
    t.microsecond = PyDateTime_DATE_GET_MICROSECOND(o);
  }
  const bool naive = !is_datetime || PyDateTime_DATE_GET_TZINFO(o) == Py_None;
  if (naive) {
    const bool last_day = t.year == 9999 && t.month == 12 && t.day == 31;
    if (last_day && (!is_datetime || (t.hour == 23 && t.minute == 59 && t.second == 59 &&
                                      t.microsecond == 999999)))
      return std::string_view("infinity");
    if (t.year == 1 && t.month == 1 && t.day == 1 && t.hour == 0 && t.minute == 0 &&
        t.second == 0 && t.microsecond == 0)
      return std::string_view("-infinity");
  }
  if (!is_datetime) {
    storage = core::date_text(t);
    return std::string_view(storage);
  }
  if (!naive) {
    nb::object offset = value.attr("utcoffset")();
    if (!offset.is_none()) {
      if (PyDateTime_DELTA_GET_MICROSECONDS(offset.ptr()) != 0) return std::nullopt;
      t.utc_offset = PyDateTime_DELTA_GET_DAYS(offset.ptr()) * 86400 +
                     PyDateTime_DELTA_GET_SECONDS(offset.ptr());
    }
  }
  storage = core::python_datetime_text(t);
  return std::string_view(storage);
}

}  // namespace

std::string shown_name(std::string_view name) {
  return core::visible_text(name, core::LineBreaks::keep);
}

core::Field CellTexts::text_of(nb::handle value, Cell rule, std::string& storage) {
  PyObject* o = value.ptr();
  const bool null = value.is_none();
  // Only the dash rule asks whether a value is empty.
  const bool empty = !null && rule == Cell::dash_if_empty && !truthy(value);
  if (auto word = core::cell_word(rule, null, empty)) return *word;
  std::string_view shown;
  if (PyUnicode_Check(o)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(o, &size);
    if (data != nullptr) {
      shown = std::string_view(data, static_cast<std::size_t>(size));
    } else {
      PyErr_Clear();  // lone surrogates: written as escapes instead
      storage = text(value);
      shown = storage;
    }
  } else if (PyBool_Check(o)) {
    return std::string_view(o == Py_True ? "True" : "False");
  } else if (PyLong_Check(o)) {
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(o, &overflow);
    storage = overflow == 0 ? std::to_string(n) : text(value);
    return std::string_view(storage);
  } else if (auto written = datetime_text(value, storage)) {
    return *written;
  } else {
    storage = text(value);
    shown = storage;
  }
  if (core::is_visible(shown, core::LineBreaks::keep)) return shown;
  storage = core::visible_text(shown, core::LineBreaks::keep);
  return std::string_view(storage);
}

std::span<const core::Field> CellTexts::of_record(nb::handle record,
                                                  std::span<const Column> columns) {
  storage_.resize(columns.size());
  fields_.clear();
  for (std::size_t i = 0; i < columns.size(); ++i)
    fields_.push_back(text_of(field(record, columns[i].field), columns[i].cell, storage_[i]));
  return fields_;
}

std::span<const core::Field> CellTexts::of_values(nb::handle record, Cell rule,
                                                  std::size_t first) {
  const auto n = static_cast<std::size_t>(nb::len(record));
  storage_.resize(n);
  fields_.clear();
  for (std::size_t i = first; i < n; ++i) {
    nb::object value = nb::steal(PySequence_GetItem(record.ptr(), static_cast<Py_ssize_t>(i)));
    if (!value.is_valid()) throw nb::python_error();
    fields_.push_back(text_of(value, rule, storage_[i]));
  }
  return fields_;
}

void write_rows(nb::handle rows, std::span<const char* const> fields, core::DataFormat format) {
  std::vector<std::string> names(fields.begin(), fields.end());
  std::vector<core::ValueKind> kinds = kinds_of_values(rows, names);
  Export out(format, {names, std::move(kinds)}, {});
  export_records(rows, out, &names);
  out.writer.end();
  out.drain(true);
  output::flush_data();
}

bool show_table(nb::handle rows, const TableReport& report, std::string_view name,
                core::DataFormat format) {
  if (format != core::DataFormat::table) {
    std::vector<const char*> fields;
    for (const Column& c : report.columns) fields.push_back(c.field);
    write_rows(rows, fields, format);
  }
  if (!truthy(rows) && report.empty_message != nullptr) {
    print(fill(report.empty_message, core::visible_text(name)), palette::warning);
    return false;
  }
  if (format != core::DataFormat::table) return truthy(rows);
  std::vector<core::TableColumn> columns;
  for (const Column& c : report.columns) columns.push_back({c.header, c.style});
  output::TableOutput table(core::visible_text(fill(report.title, name)), std::move(columns));
  CellTexts cells;
  for (nb::handle record : rows) {
    table.row(cells.of_record(record, report.columns));
    if (table.closed()) break;
  }
  table.finish();
  return truthy(rows);
}

namespace {

// The statement and its result on the open connection. Errors of this
// phase end the command normally, with one line.
bridge::Coroutine run_statement(nb::object conn, nb::object args, const Handler* handler) {
  try {
    nb::object result = co_await handler->start(conn, args);
    if (handler->show != nullptr) handler->show(result, args);
  } catch (nb::python_error& e) {
    if (!is_ordinary(e)) throw;
    report_error(*handler, message(e));
  } catch (std::exception& e) {
    report_error(*handler, e.what());
  }
  co_return nb::none();
}

}  // namespace

bridge::Coroutine run_handler(nb::object args, const Handler& handler) {
  output::MessagesAside aside(output_format(args) != core::DataFormat::table);
  if (!settle_database(args, handler.database)) co_return nb::none();
  if (handler.admit != nullptr && !handler.admit(args)) co_return nb::none();
  bool with_database =
      handler.connects_to_database ? handler.connects_to_database(args) : true;
  co_await in_session(connection_call(args, with_database), [&](nb::object conn) {
    return run_statement(std::move(conn), args, &handler);
  });
  co_return nb::none();
}

}  // namespace talvo::db
