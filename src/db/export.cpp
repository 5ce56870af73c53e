#include "db/export.hpp"

#include <datetime.h>

#include <algorithm>
#include <optional>
#include <span>
#include <stdexcept>

#include "core/json.hpp"
#include "core/pg_text.hpp"
#include "core/readout.hpp"
#include "output/output.hpp"

namespace talvo::db {
namespace {

// Text is handed to standard output in pieces of about this size.
constexpr std::size_t kDrainSize = 1 << 16;
// Rows asked of a portal at a time: enough to keep round trips few, few
// enough that a batch of wide rows stays small.
constexpr std::int64_t kBatchRows = 5000;

std::string_view utf8_view(nb::handle s) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(s.ptr(), &size);
  if (data == nullptr) throw nb::python_error();
  return {data, static_cast<std::size_t>(size)};
}

std::string_view bytes_view(nb::handle data) {
  if (PyByteArray_Check(data.ptr()))
    return {PyByteArray_AS_STRING(data.ptr()), static_cast<std::size_t>(PyByteArray_GET_SIZE(data.ptr()))};
  char* buffer = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(data.ptr(), &buffer, &size) != 0) throw nb::python_error();
  return {buffer, static_cast<std::size_t>(size)};
}

void import_datetime() {
  if (PyDateTimeAPI == nullptr) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) throw nb::python_error();
  }
}

std::optional<int> utc_offset(nb::handle value) {
  nb::object offset = value.attr("utcoffset")();
  if (offset.is_none()) return std::nullopt;
  return PyDateTime_DELTA_GET_DAYS(offset.ptr()) * 86400 + PyDateTime_DELTA_GET_SECONDS(offset.ptr());
}

// The driver gives infinity and -infinity as the extremes of date and
// datetime (see cell_text).
const char* infinity_word(nb::handle value) {
  nb::handle type = value.type();
  if (value.equal(type.attr("max"))) return "infinity";
  if (value.equal(type.attr("min"))) return "-infinity";
  return nullptr;
}

// A decoded value in the form the server writes it as text.
std::optional<std::string> server_text(nb::handle v) {
  if (v.is_none()) return std::nullopt;
  PyObject* o = v.ptr();
  if (PyUnicode_Check(o)) return std::string(utf8_view(v));
  if (PyBool_Check(o)) return std::string(o == Py_True ? "t" : "f");
  if (PyLong_Check(o)) return text(v);
  if (PyFloat_Check(o)) return core::double_text(PyFloat_AS_DOUBLE(o));
  if (PyBytes_Check(o)) return core::bytea_text(bytes_view(v));
  import_datetime();
  if (PyDateTime_Check(o)) {
    if (const char* word = infinity_word(v)) return std::string(word);
    core::DateTimeParts t{PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o), PyDateTime_GET_DAY(o),
                          PyDateTime_DATE_GET_HOUR(o), PyDateTime_DATE_GET_MINUTE(o),
                          PyDateTime_DATE_GET_SECOND(o), PyDateTime_DATE_GET_MICROSECOND(o),
                          utc_offset(v)};
    return core::timestamp_text(t);
  }
  if (PyDate_Check(o)) {
    if (const char* word = infinity_word(v)) return std::string(word);
    return core::date_text({PyDateTime_GET_YEAR(o), PyDateTime_GET_MONTH(o), PyDateTime_GET_DAY(o),
                            0, 0, 0, 0, std::nullopt});
  }
  if (PyTime_Check(o)) {
    return core::time_text({1, 1, 1, PyDateTime_TIME_GET_HOUR(o), PyDateTime_TIME_GET_MINUTE(o),
                            PyDateTime_TIME_GET_SECOND(o), PyDateTime_TIME_GET_MICROSECOND(o),
                            utc_offset(v)});
  }
  // numeric: plain digits, as numeric_out writes them, never an exponent.
  if (std::string_view(Py_TYPE(o)->tp_name) == "decimal.Decimal")
    return text(nb::module_::import_("builtins").attr("format")(v, "f"));
  return text(v);
}

core::ValueKind kind_of_value(nb::handle v) {
  PyObject* o = v.ptr();
  if (PyBool_Check(o)) return {core::JsonKind::boolean};
  if (PyLong_Check(o) || PyFloat_Check(o)) return {core::JsonKind::number};
  if (std::string_view(Py_TYPE(o)->tp_name) == "decimal.Decimal") return {core::JsonKind::number};
  import_datetime();
  if (PyDateTime_Check(o)) return {core::JsonKind::timestamp};
  return {};
}

// Values of one row as fields; they stay valid until the next row.
class RowTexts {
 public:
  std::span<const core::Field> read(nb::handle record, const std::vector<std::string>* fields) {
    texts_.clear();
    if (fields != nullptr) {
      for (const std::string& name : *fields) texts_.push_back(server_text(record[name.c_str()]));
    } else {
      for (nb::handle value : record) texts_.push_back(server_text(value));
    }
    views_.clear();
    for (const auto& t : texts_) views_.emplace_back(t ? core::Field(*t) : std::nullopt);
    return views_;
  }

 private:
  std::vector<std::optional<std::string>> texts_;
  std::vector<core::Field> views_;
};

// What the COPY sink gives back to the driver: an awaitable that is done.
bridge::Coroutine written() { co_return nb::none(); }

}  // namespace

core::DataFormat output_format(nb::handle args) {
  nb::object format = arg(args, "format");
  if (format.is_none()) return core::DataFormat::table;
  return core::parse_format(text(format)).value_or(core::DataFormat::table);
}

Columns columns_of_statement(nb::handle attributes) {
  Columns columns;
  for (nb::handle attribute : attributes) {
    columns.names.push_back(utf8(attribute.attr("name")));
    auto oid = nb::cast<std::uint32_t>(attribute.attr("type").attr("oid"));
    columns.kinds.push_back(core::value_kind(oid));
  }
  return columns;
}

std::vector<core::ValueKind> kinds_of_values(nb::handle records,
                                             const std::vector<std::string>& fields) {
  std::vector<core::ValueKind> kinds(fields.size());
  std::vector<bool> known(fields.size(), false);
  for (nb::handle record : records) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (known[i]) continue;
      nb::object value = record[fields[i].c_str()];
      if (value.is_none()) continue;
      kinds[i] = kind_of_value(value);
      known[i] = true;
    }
  }
  return kinds;
}

void Export::drain(bool everything) {
  std::string& pending = writer.pending();
  if (pending.empty() || (!everything && pending.size() < kDrainSize)) return;
  output::write_data(pending);
  pending.clear();
}

void export_records(nb::handle records, Export& out, const std::vector<std::string>* fields) {
  RowTexts texts;
  for (nb::handle record : records) {
    out.rows.row(texts.read(record, fields));
    out.drain(false);
  }
}

bridge::Coroutine copy_rows(nb::object conn, nb::object body, std::shared_ptr<Export> out,
                            bool passthrough) {
  out->received = false;
  // Holds the export, not the coroutine: C++ only, nothing to trace.
  bridge::Traced<> sink = nb::cpp_function([out, passthrough](nb::handle data) {
    out->received = true;
    std::string_view bytes = bytes_view(data);
    if (passthrough) {
      out->writer.csv_records(bytes);
    } else {
      Export& e = *out;
      e.csv.feed(bytes, [&e](std::span<const core::Field> fields) { e.rows.row(fields); });
    }
    out->drain(false);
    return written().to_python();
  });
  bridge::Traced<> tag =
      co_await conn.attr("copy_from_query")(body, "output"_a = sink, "format"_a = "csv");
  co_return tag;
}

bridge::Coroutine counted_row_texts(nb::object portal, std::shared_ptr<Export> out) {
  core::RecordText record;
  std::optional<std::int64_t> total;
  for (;;) {
    // Once the window is full, one more row at most: the one with the count.
    std::int64_t want = kBatchRows;
    if (auto left = out->rows.still_wanted()) want = std::min(kBatchRows, *left + 1);
    bridge::Traced<> batch = co_await portal.attr("fetch")(want);
    for (nb::handle row : batch) {
      if (nb::handle count = row[0]; !count.is_none()) {
        total = nb::cast<std::int64_t>(count);
        continue;
      }
      if (!record.parse(utf8_view(row[1]))) throw std::runtime_error("unexpected row text");
      out->rows.row(record.fields());
    }
    out->drain(false);
    if (static_cast<std::int64_t>(nb::len(batch)) < want) break;  // no more rows
  }
  co_return nb::int_(total.value_or(out->rows.seen()));
}

bridge::Coroutine portal_records(nb::object portal, std::shared_ptr<Export> out) {
  for (;;) {
    bridge::Traced<> batch = co_await portal.attr("fetch")(kBatchRows);
    export_records(batch, *out);
    if (static_cast<std::int64_t>(nb::len(batch)) < kBatchRows) break;
  }
  co_return nb::int_(out->rows.seen());
}

}  // namespace talvo::db
