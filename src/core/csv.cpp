#include "core/csv.hpp"

#include <cstring>

namespace talvo::core {

void append_csv_field(std::string& out, Field value, bool only_column) {
  if (!value) return;
  std::string_view v = *value;
  bool quote = v.empty() || v.find_first_of(",\"\r\n") != std::string_view::npos ||
               (only_column && v == "\\.");
  if (!quote) {
    out += v;
    return;
  }
  out.push_back('"');
  for (char c : v) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void append_csv_record(std::string& out, std::span<const Field> fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out.push_back(',');
    append_csv_field(out, fields[i], fields.size() == 1);
  }
  out.push_back(kCsvLineEnd);
}

void CsvReader::feed(std::string_view bytes, const OnRecord& on_record) {
  pending_.append(bytes);
  const char* data = pending_.data();
  const std::size_t size = pending_.size();
  std::size_t start = 0;  // of the record being read
  std::size_t i = scanned_;
  while (i < size) {
    if (in_quotes_) {
      const void* quote = std::memchr(data + i, '"', size - i);
      if (quote == nullptr) {
        i = size;
        break;
      }
      // A doubled quote closes and at once reopens: the same either way.
      i = static_cast<std::size_t>(static_cast<const char*>(quote) - data) + 1;
      in_quotes_ = false;
      continue;
    }
    std::size_t at = i;
    while (at < size && data[at] != '"' && data[at] != kCsvLineEnd) ++at;
    if (at == size) {
      i = size;
      break;
    }
    if (data[at] == '"') {
      in_quotes_ = true;
      i = at + 1;
      continue;
    }
    split(std::string_view(data + start, at - start), on_record);
    start = i = at + 1;
  }
  pending_.erase(0, start);
  scanned_ = i - start;
}

void CsvReader::split(std::string_view record, const OnRecord& on_record) {
  fields_.clear();
  std::size_t owned = 0;
  std::size_t i = 0;
  for (;;) {
    if (i < record.size() && record[i] == '"') {
      std::size_t close = i + 1;
      bool doubled = false;
      for (;; ++close) {
        if (close >= record.size()) break;
        if (record[close] != '"') continue;
        if (close + 1 < record.size() && record[close + 1] == '"') {
          doubled = true;
          ++close;
          continue;
        }
        break;
      }
      std::string_view inside = record.substr(i + 1, close - i - 1);
      if (doubled) {
        if (unquoted_.size() <= owned) unquoted_.emplace_back();
        std::string& text = unquoted_[owned++];
        text.clear();
        for (std::size_t k = 0; k < inside.size(); ++k) {
          text.push_back(inside[k]);
          if (inside[k] == '"') ++k;
        }
        fields_.emplace_back(text);
      } else {
        fields_.emplace_back(inside);
      }
      i = close + 1;
      while (i < record.size() && record[i] != ',') ++i;  // nothing, when COPY wrote it
    } else {
      std::size_t comma = record.find(',', i);
      std::size_t end = comma == std::string_view::npos ? record.size() : comma;
      if (end == i)
        fields_.emplace_back(std::nullopt);
      else
        fields_.emplace_back(record.substr(i, end - i));
      i = end;
    }
    if (i >= record.size()) break;
    ++i;  // the comma
  }
  on_record(fields_);
}

}  // namespace talvo::core
