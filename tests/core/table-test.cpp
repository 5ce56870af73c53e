#include "core/table.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/cell_width.hpp"

using namespace talvo::core;

namespace {

const char* const kStyles[] = {"cyan", "green", "yellow", "blue", "magenta", "red"};

struct Pinned {
  Ansi ansi;
  const char* title;
  std::vector<std::string> headers;
  std::vector<std::vector<std::string>> rows;
  const char* text;
};

std::vector<TableColumn> columns_of(const std::vector<std::string>& headers) {
  std::vector<TableColumn> columns;
  for (std::size_t i = 0; i < headers.size(); ++i) columns.push_back({headers[i], kStyles[i % 6]});
  return columns;
}

std::string draw(const Pinned& p, std::size_t window = TableWriter::kWindowRows) {
  TableWriter table(p.title, columns_of(p.headers), p.ansi, "", window);
  for (const auto& r : p.rows) {
    std::vector<Field> cells(r.begin(), r.end());
    table.row(cells);
  }
  table.end();
  return table.pending();
}

// Tables as the reports have always printed them, in a pipe (no escape
// codes), on a colour terminal, and under NO_COLOR.
const Pinned kPinned[] = {
      {Ansi::none, "Tables in 'db'", {"Schema", "Table", "Size", "Columns"},
       {{"public", "orders", "16 kB", "4"}, {"s", "OrderLines", "8192 bytes", "2"}},
       "                Tables in 'db'                \n"
           "┏━━━━━━━━┳━━━━━━━━━━━━┳━━━━━━━━━━━━┳━━━━━━━━━┓\n"
           "┃ Schema ┃ Table      ┃ Size       ┃ Columns ┃\n"
           "┡━━━━━━━━╇━━━━━━━━━━━━╇━━━━━━━━━━━━╇━━━━━━━━━┩\n"
           "│ public │ orders     │ 16 kB      │ 4       │\n"
           "│ s      │ OrderLines │ 8192 bytes │ 2       │\n"
           "└────────┴────────────┴────────────┴─────────┘\n"},
      {Ansi::colours, "Tables in 'db'", {"Schema", "Table", "Size", "Columns"},
       {{"public", "orders", "16 kB", "4"}, {"s", "OrderLines", "8192 bytes", "2"}},
       "\x1b[3m                Tables in 'db'                \x1b[0m\n"
           "┏━━━━━━━━┳━━━━━━━━━━━━┳━━━━━━━━━━━━┳━━━━━━━━━┓\n"
           "┃\x1b[1;35m \x1b[0m\x1b[1;35mSchema\x1b[0m\x1b[1;35m \x1b[0m┃\x1b[1;35m \x1b[0m\x1b[1;35mTable     \x1b[0m\x1b[1;35m \x1b[0m┃\x1b[1;35m \x1b[0m\x1b[1;35mSize      \x1b[0m\x1b[1;35m \x1b[0m┃\x1b[1;35m \x1b[0m\x1b[1;35mColumns\x1b[0m\x1b[1;35m \x1b[0m┃\n"
           "┡━━━━━━━━╇━━━━━━━━━━━━╇━━━━━━━━━━━━╇━━━━━━━━━┩\n"
           "│\x1b[36m \x1b[0m\x1b[36mpublic\x1b[0m\x1b[36m \x1b[0m│\x1b[32m \x1b[0m\x1b[32morders    \x1b[0m\x1b[32m \x1b[0m│\x1b[33m \x1b[0m\x1b[33m16 kB     \x1b[0m\x1b[33m \x1b[0m│\x1b[34m \x1b[0m\x1b[34m4      \x1b[0m\x1b[34m \x1b[0m│\n"
           "│\x1b[36m \x1b[0m\x1b[36ms     \x1b[0m\x1b[36m \x1b[0m│\x1b[32m \x1b[0m\x1b[32mOrderLines\x1b[0m\x1b[32m \x1b[0m│\x1b[33m \x1b[0m\x1b[33m8192 bytes\x1b[0m\x1b[33m \x1b[0m│\x1b[34m \x1b[0m\x1b[34m2      \x1b[0m\x1b[34m \x1b[0m│\n"
           "└────────┴────────────┴────────────┴─────────┘\n"},
      {Ansi::attributes, "Tables in 'db'", {"Schema", "Table", "Size", "Columns"},
       {{"public", "orders", "16 kB", "4"}, {"s", "OrderLines", "8192 bytes", "2"}},
       "\x1b[3m                Tables in 'db'                \x1b[0m\n"
           "┏━━━━━━━━┳━━━━━━━━━━━━┳━━━━━━━━━━━━┳━━━━━━━━━┓\n"
           "┃\x1b[1m \x1b[0m\x1b[1mSchema\x1b[0m\x1b[1m \x1b[0m┃\x1b[1m \x1b[0m\x1b[1mTable     \x1b[0m\x1b[1m \x1b[0m┃\x1b[1m \x1b[0m\x1b[1mSize      \x1b[0m\x1b[1m \x1b[0m┃\x1b[1m \x1b[0m\x1b[1mColumns\x1b[0m\x1b[1m \x1b[0m┃\n"
           "┡━━━━━━━━╇━━━━━━━━━━━━╇━━━━━━━━━━━━╇━━━━━━━━━┩\n"
           "│ public │ orders     │ 16 kB      │ 4       │\n"
           "│ s      │ OrderLines │ 8192 bytes │ 2       │\n"
           "└────────┴────────────┴────────────┴─────────┘\n"},
      {Ansi::none, "PostgreSQL Users", {"Username", "Superuser"},
       {},
       "    PostgreSQL Users    \n"
           "┏━━━━━━━━━━┳━━━━━━━━━━━┓\n"
           "┃ Username ┃ Superuser ┃\n"
           "┡━━━━━━━━━━╇━━━━━━━━━━━┩\n"
           "└──────────┴───────────┘\n"},
      {Ansi::none, "Query Results", {"n"},
       {{"1"}, {"2"}},
       "Query\n"
           "Resul\n"
           " ts  \n"
           "┏━━━┓\n"
           "┃ n ┃\n"
           "┡━━━┩\n"
           "│ 1 │\n"
           "│ 2 │\n"
           "└───┘\n"},
      {Ansi::none, "A very long title that wraps", {"a", "b"},
       {{"x", "y"}},
       " A very  \n"
           "  long   \n"
           "  title  \n"
           "  that   \n"
           "  wraps  \n"
           "┏━━━┳━━━┓\n"
           "┃ a ┃ b ┃\n"
           "┡━━━╇━━━┩\n"
           "│ x │ y │\n"
           "└───┴───┘\n"},
      {Ansi::none, "T", {"名前", "b"},
       {{"日本語", "x"}, {"é", "ÿ"}},
       "      T       \n"
           "┏━━━━━━━━┳━━━┓\n"
           "┃ 名前   ┃ b ┃\n"
           "┡━━━━━━━━╇━━━┩\n"
           "│ 日本語 │ x │\n"
           "│ é      │ ÿ │\n"
           "└────────┴───┘\n"},
      {Ansi::none, "T", {"a"},
       {{"ée"}, {"⚠️ x"}, {"👍🏽"}, {"👨‍👩‍👧"}},
       "   T    \n"
           "┏━━━━━━┓\n"
           "┃ a    ┃\n"
           "┡━━━━━━┩\n"
           "│ ée   │\n"
           "│ ⚠️ x │\n"
           "│ 👍🏽   │\n"
           "│ 👨‍👩‍👧   │\n"
           "└──────┘\n"},
      {Ansi::none, "T", {"a", "b"},
       {{"two\nlines", "x"}, {"a\n", "\nb"}},
       "      T      \n"
           "┏━━━━━━━┳━━━┓\n"
           "┃ a     ┃ b ┃\n"
           "┡━━━━━━━╇━━━┩\n"
           "│ two   │ x │\n"
           "│ lines │   │\n"
           "│ a     │   │\n"
           "│       │ b │\n"
           "└───────┴───┘\n"},
      {Ansi::colours, "T", {"a", "b"},
       {{"two\nlines", "x"}, {"a\n", "\nb"}},
       "\x1b[3m      T      \x1b[0m\n"
           "┏━━━━━━━┳━━━┓\n"
           "┃\x1b[1;35m \x1b[0m\x1b[1;35ma    \x1b[0m\x1b[1;35m \x1b[0m┃\x1b[1;35m \x1b[0m\x1b[1;35mb\x1b[0m\x1b[1;35m \x1b[0m┃\n"
           "┡━━━━━━━╇━━━┩\n"
           "│\x1b[36m \x1b[0m\x1b[36mtwo  \x1b[0m\x1b[36m \x1b[0m│\x1b[32m \x1b[0m\x1b[32mx\x1b[0m\x1b[32m \x1b[0m│\n"
           "│\x1b[36m \x1b[0m\x1b[36mlines\x1b[0m\x1b[36m \x1b[0m│\x1b[32m   \x1b[0m│\n"
           "│\x1b[36m \x1b[0m\x1b[36ma    \x1b[0m\x1b[36m \x1b[0m│\x1b[32m \x1b[0m\x1b[32m \x1b[0m\x1b[32m \x1b[0m│\n"
           "│\x1b[36m \x1b[0m\x1b[36m     \x1b[0m\x1b[36m \x1b[0m│\x1b[32m \x1b[0m\x1b[32mb\x1b[0m\x1b[32m \x1b[0m│\n"
           "└───────┴───┘\n"},
      {Ansi::none, "T", {"a", "bbbb", "c"},
       {{"", "NULL", " x "}},
       "        T         \n"
           "┏━━━┳━━━━━━┳━━━━━┓\n"
           "┃ a ┃ bbbb ┃ c   ┃\n"
           "┡━━━╇━━━━━━╇━━━━━┩\n"
           "│   │ NULL │  x  │\n"
           "└───┴──────┴─────┘\n"},
      {Ansi::none, "T", {"esc"},
       {{"\\x1b[2J\\t"}},
       "      T      \n"
           "┏━━━━━━━━━━━┓\n"
           "┃ esc       ┃\n"
           "┡━━━━━━━━━━━┩\n"
           "│ \\x1b[2J\\t │\n"
           "└───────────┘\n"},
      {Ansi::none, "Structure of '表'", {"Column"},
       {{"id"}},
       "Structure \n"
           " of '表'  \n"
           "┏━━━━━━━━┓\n"
           "┃ Column ┃\n"
           "┡━━━━━━━━┩\n"
           "│ id     │\n"
           "└────────┘\n"},
};

}  // namespace

TEST(TableWriter, PinnedLook) {
  for (const Pinned& p : kPinned) EXPECT_EQ(draw(p), p.text) << p.title;
}

TEST(TableWriter, LaterRowsWidenTheColumnFromTheirRowOn) {
  Pinned p{Ansi::none, "T", {"a", "b"}, {{"xy", "1"}, {"abcdefg", "22"}, {"表", "3"}}, ""};
  EXPECT_EQ(draw(p, 1),
            "    T     \n"
            "┏━━━━┳━━━┓\n"
            "┃ a  ┃ b ┃\n"
            "┡━━━━╇━━━┩\n"
            "│ xy │ 1 │\n"
            "│ abcdefg │ 22 │\n"
            "│ 表      │ 3  │\n"
            "└─────────┴────┘\n");
}

TEST(TableWriter, WindowSizeAndNulls) {
  TableWriter table("Query Results", {{"n", "cyan"}, {"notes", "cyan"}}, Ansi::none, "NULL", 2);
  const std::vector<Field> row = {"1", std::nullopt};
  table.row(row);
  EXPECT_FALSE(table.settled());
  EXPECT_EQ(table.pending(), "");
  EXPECT_EQ(table.width(), 13u);
  EXPECT_EQ(table.height(), 6u);  // title, three lines of head, one row, bottom
  const std::vector<Field> two_lines = {"2\n3", ""};
  table.row(two_lines);
  EXPECT_TRUE(table.window_full());
  EXPECT_TRUE(table.settled());
  EXPECT_EQ(table.height(), 8u);
  table.end();
  EXPECT_EQ(table.pending(),
            "Query Results\n"
            "┏━━━┳━━━━━━━┓\n"
            "┃ n ┃ notes ┃\n"
            "┡━━━╇━━━━━━━┩\n"
            "│ 1 │ NULL  │\n"
            "│ 2 │       │\n"
            "│ 3 │       │\n"
            "└───┴───────┘\n");
}

TEST(TableWriter, CellWords) {
  using W = std::optional<std::string_view>;
  EXPECT_EQ(cell_word(Cell::value, true, true), W(""));
  EXPECT_EQ(cell_word(Cell::value, false, true), std::nullopt);
  EXPECT_EQ(cell_word(Cell::null_word, true, true), W("NULL"));
  EXPECT_EQ(cell_word(Cell::null_word, false, true), std::nullopt);
  EXPECT_EQ(cell_word(Cell::dash_if_empty, true, true), W("-"));
  EXPECT_EQ(cell_word(Cell::dash_if_empty, false, true), W("-"));
  EXPECT_EQ(cell_word(Cell::dash_if_empty, false, false), std::nullopt);
}

TEST(TableWriter, SgrParameters) {
  EXPECT_EQ(sgr_parameters("bold magenta", Ansi::colours), "1;35");
  EXPECT_EQ(sgr_parameters("bold magenta", Ansi::attributes), "1");
  EXPECT_EQ(sgr_parameters("bold magenta", Ansi::none), "");
  EXPECT_EQ(sgr_parameters("cyan", Ansi::attributes), "");
  EXPECT_EQ(sgr_parameters("italic", Ansi::colours), "3");
  EXPECT_EQ(sgr_parameters("red", Ansi::colours), "31");
  EXPECT_EQ(sgr_parameters("bright_red", Ansi::colours), "91");
}

TEST(TableWriter, AnsiFacts) {
  struct Case {
    AnsiFacts facts;
    Ansi ansi;
  };
  const Case cases[] = {
      {{true, {}, {}, "", "xterm-256color"}, Ansi::colours},
      {{false, {}, {}, "", "xterm"}, Ansi::none},
      {{true, {}, {}, "1", "xterm"}, Ansi::attributes},
      {{true, {}, {}, "", "dumb"}, Ansi::none},
      {{true, {}, {}, "", "Unknown"}, Ansi::none},
      {{false, {}, "1", "", ""}, Ansi::colours},
      {{false, {}, "1", "", "dumb"}, Ansi::none},
      {{true, {}, "", "", "xterm"}, Ansi::none},  // FORCE_COLOR set empty
      {{true, "0", "1", "", "xterm"}, Ansi::none},
      {{false, "1", {}, "", "xterm"}, Ansi::colours},
  };
  for (const Case& c : cases) EXPECT_EQ(ansi_for(c.facts), c.ansi) << c.facts.term;
}

TEST(CellWidth, Table) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0},          {"abc", 3},       {"日本語", 6},        {"e\u0301", 1},
      {"⚠️", 2},        {"⚠", 1},         {"👍🏽", 2},          {"👨‍👩‍👧", 2},
      {"\u200dab", 1},  {"a\xff", 2},     {"\u00a0x", 2},       {"한국어", 6},
  };
  for (const auto& [text, cells] : cases) EXPECT_EQ(cell_width(text), cells) << text;
}

TEST(CellWidth, Folding) {
  using Pieces = std::vector<std::string_view>;
  EXPECT_EQ(fold_cells("abcdefg", 3), (Pieces{"abc", "def", "g"}));
  EXPECT_EQ(fold_cells("表表x", 3), (Pieces{"表", "表x"}));
  EXPECT_EQ(fold_cells("e\u0301e\u0301e\u0301", 2), (Pieces{"e\u0301e\u0301", "e\u0301"}));
  EXPECT_EQ(fold_cells("表", 1), (Pieces{"", "表"}));
  EXPECT_EQ(fold_cells("", 3), Pieces{});
}

TEST(CentredLines, BreakAtBlanksAndFoldLongWords) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(centred_lines("Tables", 10), (Lines{"  Tables  "}));
  EXPECT_EQ(centred_lines("Query Results", 5), (Lines{"Query", "Resul", " ts  "}));
  EXPECT_EQ(centred_lines("A very long title", 9), (Lines{" A very  ", "  long   ", "  title  "}));
  EXPECT_EQ(centred_lines("Structure of '表'", 10), (Lines{"Structure ", " of '表'  "}));
}
