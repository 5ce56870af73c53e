#include "core/row_writer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace talvo::core;

namespace {

const ValueKind kNumber{JsonKind::number};

std::string write(DataFormat format, const std::vector<std::vector<Field>>& rows,
                  RowWindow window = {}) {
  RowWriter writer(format, {"n", "note"}, {kNumber, {}});
  WindowedRows windowed(writer, window);
  for (const auto& r : rows) windowed.row(r);
  writer.end();
  return writer.pending();
}

const std::vector<std::vector<Field>> kRows = {{"1", "a,b"}, {"2", std::nullopt}, {"3", ""}};

}  // namespace

TEST(RowWriter, Csv) {
  EXPECT_EQ(write(DataFormat::csv, kRows), "n,note\n1,\"a,b\"\n2,\n3,\"\"\n");
  EXPECT_EQ(write(DataFormat::csv, {}), "n,note\n");
}

TEST(RowWriter, Json) {
  EXPECT_EQ(write(DataFormat::json, kRows),
            "[\n{\"n\": 1, \"note\": \"a,b\"},\n{\"n\": 2, \"note\": null},\n"
            "{\"n\": 3, \"note\": \"\"}\n]\n");
  EXPECT_EQ(write(DataFormat::json, {}), "[]\n");
}

TEST(RowWriter, NamesAreQuotedAndMayRepeat) {
  RowWriter csv(DataFormat::csv, {"a,b", "a,b", "?column?"}, {});
  EXPECT_EQ(csv.pending(), "\"a,b\",\"a,b\",?column?\n");
  RowWriter json(DataFormat::json, {"say \"x\"", "n", "n"}, {});
  const Field row[] = {"1", "2", "3"};
  json.row(row);
  json.end();
  EXPECT_EQ(json.pending(), "[\n{\"say \\\"x\\\"\": \"1\", \"n\": \"2\", \"n\": \"3\"}\n]\n");
}

TEST(WindowedRows, FirstRowsOrAllButTheLast) {
  struct Case {
    RowWindow window;
    std::string written;
  };
  const Case cases[] = {
      {{}, "n,note\n1,\"a,b\"\n2,\n3,\"\"\n"},
      {{2, 0}, "n,note\n1,\"a,b\"\n2,\n"},
      {{0, 0}, "n,note\n"},
      {{5, 0}, "n,note\n1,\"a,b\"\n2,\n3,\"\"\n"},
      {{std::nullopt, 1}, "n,note\n1,\"a,b\"\n2,\n"},
      {{std::nullopt, 3}, "n,note\n"},
      {{std::nullopt, 9}, "n,note\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(write(DataFormat::csv, kRows, c.window), c.written)
        << c.window.first.value_or(-1) << " " << c.window.hold_back;
}

TEST(WindowedRows, CountsEveryRowAndKnowsWhenFull) {
  RowWriter writer(DataFormat::json, {"n"}, {kNumber});
  WindowedRows windowed(writer, {2, 0});
  const Field row[] = {"7"};
  for (int expected_wanted : {2, 1, 0, 0}) {
    EXPECT_EQ(windowed.still_wanted(), expected_wanted);
    windowed.row(row);
  }
  EXPECT_TRUE(windowed.full());
  EXPECT_EQ(windowed.seen(), 4);
  EXPECT_EQ(writer.rows(), 2);
}
