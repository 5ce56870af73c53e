#include "db/report.hpp"
#include "core/terminal.hpp"
#include "core/where.hpp"
#include "db/export.hpp"
#include "db/session.hpp"
#include "output/output.hpp"
#include "output/palette.hpp"
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

nb::object text_class() { return nb::module_::import_("rich.text").attr("Text"); }

nb::object literal(std::string_view s, const char* style) {
  nb::object Text = text_class();
  const std::string shown = core::visible_text(s);
  nb::str content(shown.data(), shown.size());
  return style ? Text(content, "style"_a = style) : Text(content);
}

nb::object cell_text(nb::handle Text, nb::handle value, Cell rule) {
  if (value.is_none()) {
    if (rule == Cell::null_word) return Text("NULL");
    if (rule == Cell::dash_if_empty) return Text("-");
    return Text("");
  }
  if (rule == Cell::dash_if_empty && !truthy(value)) return Text("-");
  // asyncpg gives the server's infinity and -infinity dates and time stamps
  // as the extreme values of Python's date and datetime (naive ones, for a
  // timestamptz column too), which would print as years 9999 and 1.
  const std::string_view type_name = Py_TYPE(value.ptr())->tp_name;
  if (type_name == "datetime.date" || type_name == "datetime.datetime") {
    nb::handle type = value.type();
    if (value.equal(type.attr("max"))) return Text("infinity");
    if (value.equal(type.attr("min"))) return Text("-infinity");
  }
  // A line break stays one: rich keeps it inside the cell.
  const std::string shown = core::visible_text(text(value), core::LineBreaks::keep);
  return Text(nb::str(shown.data(), shown.size()));
}

nb::object make_table(nb::object title) {
  nb::object Table = nb::module_::import_("rich.table").attr("Table");
  return Table("title"_a = title, "show_header"_a = true, "header_style"_a = "bold magenta");
}

void print_renderable(nb::handle renderable) {
  nb::module_::import_("rich.console").attr("Console")().attr("print")(renderable);
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
  // A title built from a name is literal too; "table.title" keeps the look
  // rich gives a plain title.
  nb::object table = make_table(literal(fill(report.title, name), "table.title"));
  for (const Column& c : report.columns) table.attr("add_column")(c.header, "style"_a = c.style);
  nb::object add_row = table.attr("add_row");
  nb::object Text = text_class();
  for (nb::handle record : rows) {
    nb::list cells;
    for (const Column& c : report.columns)
      cells.append(cell_text(Text, field(record, c.field), c.cell));
    add_row(*cells);
  }
  print_renderable(table);
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
