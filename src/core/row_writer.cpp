#include "core/row_writer.hpp"

#include "core/csv.hpp"

namespace talvo::core {

RowWriter::RowWriter(DataFormat format, std::vector<std::string> names,
                     std::vector<ValueKind> kinds)
    : format_(format), kinds_(std::move(kinds)) {
  kinds_.resize(names.size());
  if (format_ == DataFormat::csv) {
    std::vector<Field> header(names.begin(), names.end());
    append_csv_record(out_, header);
    return;
  }
  for (const std::string& name : names) {
    std::string key;
    append_json_string(key, name);
    key += ": ";
    keys_.push_back(std::move(key));
  }
}

void RowWriter::row(std::span<const Field> fields) {
  if (format_ == DataFormat::csv) {
    append_csv_record(out_, fields);
  } else {
    out_ += rows_ == 0 ? "[\n{" : ",\n{";
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      if (i > 0) out_ += ", ";
      out_ += keys_[i];
      append_json_value(out_, kinds_[i], i < fields.size() ? fields[i] : std::nullopt);
    }
    out_.push_back('}');
  }
  ++rows_;
}

void RowWriter::end() {
  if (format_ == DataFormat::json) out_ += rows_ == 0 ? "[]\n" : "\n]\n";
}

void WindowedRows::row(std::span<const Field> fields) {
  ++seen_;
  if (window_.hold_back == 0) {
    if (!window_.first || seen_ <= *window_.first) sink_.row(fields);
    return;
  }
  HeldRow copy;
  copy.reserve(fields.size());
  for (Field f : fields) copy.emplace_back(f ? std::optional<std::string>(*f) : std::nullopt);
  held_.push_back(std::move(copy));
  if (static_cast<std::int64_t>(held_.size()) <= window_.hold_back) return;
  view_.clear();
  for (const auto& f : held_.front()) view_.emplace_back(f ? Field(*f) : std::nullopt);
  sink_.row(view_);
  held_.pop_front();
}

}  // namespace talvo::core
