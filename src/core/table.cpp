#include "core/table.hpp"

#include <algorithm>
#include <cstring>

#include "core/cell_width.hpp"

namespace talvo::core {
namespace {

struct Sgr {
  std::string_view word;
  int code;
};

// In the order the parameters are written: attributes, then the colour.
constexpr Sgr kAttributes[] = {{"bold", 1}, {"dim", 2}, {"italic", 3}, {"underline", 4}};
constexpr Sgr kColours[] = {{"black", 30}, {"red", 31},     {"green", 32}, {"yellow", 33},
                            {"blue", 34},  {"magenta", 35}, {"cyan", 36},  {"white", 37}};

std::vector<std::string_view> words_of(std::string_view s) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < s.size()) {
    std::size_t end = s.find(' ', at);
    if (end == std::string_view::npos) end = s.size();
    if (end > at) words.push_back(s.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// --- Titles: broken at blanks, centred ---------------------------------------

std::size_t utf8_length(std::string_view s, std::size_t at) {
  const auto lead = static_cast<unsigned char>(s[at]);
  std::size_t n = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 4;
  return std::min(n, s.size() - at);
}

char32_t code_at(std::string_view s, std::size_t at, std::size_t n) {
  const auto lead = static_cast<unsigned char>(s[at]);
  if (n == 1) return lead;
  char32_t code = lead & (0x7Fu >> n);
  for (std::size_t k = 1; k < n; ++k) code = (code << 6) | (static_cast<unsigned char>(s[at + k]) & 0x3Fu);
  return code;
}

// White space as regular expressions and str.strip() know it.
bool is_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

// `s` without the white space that ends it.
std::string_view trimmed_end(std::string_view s) {
  std::size_t keep = 0;
  for (std::size_t at = 0; at < s.size();) {
    std::size_t n = utf8_length(s, at);
    if (!is_space(code_at(s, at, n))) keep = at + n;
    at += n;
  }
  return s.substr(0, keep);
}

// Words with the blanks that follow them; blanks that open the text belong
// to its first word.
std::vector<std::pair<std::size_t, std::string_view>> blank_words(std::string_view s) {
  std::vector<std::pair<std::size_t, std::string_view>> words;
  std::size_t at = 0;
  while (at < s.size()) {
    std::size_t start = at;
    bool seen_word = false;
    while (at < s.size()) {
      std::size_t n = utf8_length(s, at);
      bool space = is_space(code_at(s, at, n));
      if (!space) seen_word = true;
      if (space && seen_word) break;
      at += n;
    }
    if (!seen_word) break;
    while (at < s.size()) {
      std::size_t n = utf8_length(s, at);
      if (!is_space(code_at(s, at, n))) break;
      at += n;
    }
    words.emplace_back(start, s.substr(start, at - start));
  }
  return words;
}

// Byte offsets at which `s` breaks into lines of `width` cells.
std::vector<std::size_t> line_breaks(std::string_view s, std::size_t width) {
  std::vector<std::size_t> breaks;
  long long offset = 0;
  const auto w = static_cast<long long>(width);
  for (auto [start, word] : blank_words(s)) {
    const auto length = static_cast<long long>(cell_width(trimmed_end(word)));
    if (w - offset >= length) {
      offset += static_cast<long long>(cell_width(word));
    } else if (length > w) {
      std::vector<std::string_view> pieces = fold_cells(word, width);
      for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (start != 0) breaks.push_back(start);
        if (i + 1 == pieces.size())
          offset = static_cast<long long>(cell_width(pieces[i]));
        else
          start += pieces[i].size();
      }
    } else if (offset != 0 && start != 0) {
      breaks.push_back(start);
      offset = static_cast<long long>(cell_width(word));
    }
  }
  return breaks;
}

// `s` cut to at most `width` cells; a wide character cut in half leaves a blank.
std::string crop_cells(std::string_view s, std::size_t width) {
  if (cell_width(s) <= width) return std::string(s);
  std::vector<std::string_view> pieces = fold_cells(s, width);
  std::string out(pieces.empty() ? std::string_view() : pieces.front());
  out.append(width - cell_width(out), ' ');
  return out;
}

// --- Cells --------------------------------------------------------------------

void styled(std::string& out, const std::string& sgr, std::string_view text, std::size_t pad) {
  if (!sgr.empty()) {
    out += "\x1b[";
    out += sgr;
    out += 'm';
  }
  out += text;
  out.append(pad, ' ');
  if (!sgr.empty()) out += "\x1b[0m";
}

void append_repeated(std::string& out, const char* piece, std::size_t times) {
  const std::size_t n = std::strlen(piece);
  for (std::size_t i = 0; i < times; ++i) out.append(piece, n);
}

std::size_t line_count(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

}  // namespace

std::string sgr_parameters(std::string_view style, Ansi ansi) {
  if (ansi == Ansi::none) return "";
  std::vector<std::string_view> words = words_of(style);
  std::string out;
  auto add = [&out](int code) {
    if (!out.empty()) out += ';';
    out += std::to_string(code);
  };
  for (const Sgr& a : kAttributes)
    if (std::find(words.begin(), words.end(), a.word) != words.end()) add(a.code);
  if (ansi == Ansi::colours) {
    for (std::string_view w : words) {
      for (const Sgr& c : kColours) {
        if (w == c.word) add(c.code);
        if (w.substr(0, 7) == "bright_" && w.substr(7) == c.word) add(c.code + 60);
      }
    }
  }
  return out;
}

std::optional<std::string_view> cell_word(Cell rule, bool null, bool empty) {
  switch (rule) {
    case Cell::value: return null ? std::optional<std::string_view>("") : std::nullopt;
    case Cell::null_word: return null ? std::optional<std::string_view>("NULL") : std::nullopt;
    case Cell::dash_if_empty: break;
  }
  return null || empty ? std::optional<std::string_view>("-") : std::nullopt;
}

Ansi ansi_for(const AnsiFacts& facts) {
  bool terminal = facts.isatty;
  if (facts.tty_compatible == "0") {
    terminal = false;
  } else if (facts.tty_compatible == "1") {
    terminal = true;
  } else if (facts.force_color) {
    terminal = !facts.force_color->empty();
  }
  const std::string term = lower(facts.term);
  if (!terminal || term == "dumb" || term == "unknown") return Ansi::none;
  return facts.no_color.empty() ? Ansi::colours : Ansi::attributes;
}

std::vector<std::string> centred_lines(std::string_view text, std::size_t width) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  for (;;) {
    std::size_t end = text.find('\n', at);
    std::string_view paragraph = text.substr(at, end == std::string_view::npos ? end : end - at);
    std::vector<std::size_t> breaks = line_breaks(paragraph, width);
    breaks.push_back(paragraph.size());
    std::size_t from = 0;
    for (std::size_t to : breaks) {
      std::string shown = crop_cells(trimmed_end(paragraph.substr(from, to - from)), width);
      from = to;
      std::size_t left = (width - cell_width(shown)) / 2;
      std::string centred(left, ' ');
      centred += shown;
      centred.append(width - cell_width(centred), ' ');
      lines.push_back(std::move(centred));
    }
    if (end == std::string_view::npos) break;
    at = end + 1;
  }
  return lines;
}

TableWriter::TableWriter(std::string title, std::vector<TableColumn> columns, Ansi ansi,
                         std::string null_text, std::size_t window_rows)
    : title_(std::move(title)),
      columns_(std::move(columns)),
      ansi_(ansi),
      null_text_(std::move(null_text)),
      window_rows_(window_rows),
      header_sgr_(sgr_parameters("bold magenta", ansi)),
      title_sgr_(sgr_parameters("italic", ansi)),
      widths_(columns_.size(), 0) {
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    cell_sgr_.push_back(sgr_parameters(columns_[c].style, ansi));
    measure(columns_[c].header, c);
  }
}

void TableWriter::measure(std::string_view text, std::size_t column) {
  std::size_t at = 0;
  for (;;) {
    std::size_t end = text.find('\n', at);
    std::string_view line = text.substr(at, end == std::string_view::npos ? end : end - at);
    widths_[column] = std::max(widths_[column], cell_width(line));
    if (end == std::string_view::npos) return;
    at = end + 1;
  }
}

void TableWriter::row(std::span<const Field> cells) {
  scratch_cells_.clear();
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    const Field f = c < cells.size() ? cells[c] : Field(std::string_view());
    scratch_cells_.push_back(f ? *f : std::string_view(null_text_));
  }
  if (settled_) {
    write_row(scratch_cells_);
    return;
  }
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    measure(scratch_cells_[c], c);
    held_ += scratch_cells_[c];
    cell_ends_.push_back(held_.size());
  }
  ++held_rows_;
  held_lines_ += row_height(scratch_cells_);
  if (window_full()) settle();
}

bool TableWriter::window_full() const {
  return held_rows_ >= window_rows_ || held_.size() >= kWindowBytes;
}

std::size_t TableWriter::width() const {
  std::size_t total = columns_.size() + 1;
  for (std::size_t w : widths_) total += w + 2;
  return total;
}

std::size_t TableWriter::row_height(std::span<const std::string_view> cells) const {
  std::size_t height = 1;
  for (std::string_view cell : cells) height = std::max(height, line_count(cell));
  return height;
}

std::size_t TableWriter::height() const {
  if (settled_) return lines_written_ + (ended_ ? 0 : 1);
  std::size_t title = title_.empty() ? 0 : centred_lines(title_, width()).size();
  std::size_t header = 1;
  for (const TableColumn& c : columns_) header = std::max(header, line_count(c.header));
  return title + 1 + header + 1 + held_lines_ + 1;
}

void TableWriter::split_cell(std::string_view text, Lines& lines) {
  lines.clear();
  std::size_t at = 0;
  for (;;) {
    std::size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) return;
    at = end + 1;
  }
}

void TableWriter::write_rule(const char* left, const char* fill, const char* join,
                             const char* right) {
  out_ += left;
  for (std::size_t c = 0; c < widths_.size(); ++c) {
    if (c > 0) out_ += join;
    append_repeated(out_, fill, widths_[c] + 2);
  }
  out_ += right;
  out_ += '\n';
  ++lines_written_;
}

void TableWriter::write_cells(std::span<const Lines> cells, const std::string& sgr,
                              const std::vector<std::string>& sgrs, const char* border) {
  std::size_t height = 1;
  for (const Lines& lines : cells) height = std::max(height, lines.size());
  for (std::size_t l = 0; l < height; ++l) {
    out_ += border;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::string& style = sgrs.empty() ? sgr : sgrs[c];
      if (l < cells[c].size()) {
        std::string_view line = cells[c][l];
        styled(out_, style, " ", 0);
        styled(out_, style, line, widths_[c] - std::min(widths_[c], cell_width(line)));
        styled(out_, style, " ", 0);
      } else {
        styled(out_, style, "", widths_[c] + 2);
      }
      out_ += border;
    }
    out_ += '\n';
    ++lines_written_;
  }
}

void TableWriter::write_row(std::span<const std::string_view> cells) {
  scratch_lines_.resize(columns_.size());
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    split_cell(cells[c], scratch_lines_[c]);
    // Past the window a wider value widens its column from its row on.
    if (settled_)
      for (std::string_view line : scratch_lines_[c]) widths_[c] = std::max(widths_[c], cell_width(line));
  }
  write_cells(scratch_lines_, "", cell_sgr_, "│");
}

void TableWriter::settle() {
  if (settled_) return;
  if (!title_.empty()) {
    for (const std::string& line : centred_lines(title_, width())) {
      styled(out_, title_sgr_, line, 0);
      out_ += '\n';
      ++lines_written_;
    }
  }
  write_rule("┏", "━", "┳", "┓");
  std::vector<Lines> header(columns_.size());
  for (std::size_t c = 0; c < columns_.size(); ++c)
    split_cell(columns_[c].header, header[c]);
  write_cells(header, header_sgr_, {}, "┃");
  write_rule("┡", "━", "╇", "┩");

  std::vector<std::string_view> cells(columns_.size());
  std::size_t k = 0, from = 0;
  for (std::size_t r = 0; r < held_rows_; ++r) {
    for (std::size_t c = 0; c < columns_.size(); ++c, ++k) {
      cells[c] = std::string_view(held_).substr(from, cell_ends_[k] - from);
      from = cell_ends_[k];
    }
    write_row(cells);
  }
  settled_ = true;
  // The held rows' texts are in the output now; the window is given back.
  std::string().swap(held_);
  std::vector<std::size_t>().swap(cell_ends_);
}

void TableWriter::end() {
  if (ended_) return;
  settle();
  write_rule("└", "─", "┴", "┘");
  ended_ = true;
}

}  // namespace talvo::core
