// The integer rule shared by the threshold box and the settings file.
#include "integer_text.h"

#include <gtest/gtest.h>

namespace pagetrim {
namespace {

TEST(ParseInteger, AcceptsDecimalAndHexadecimalForms) {
  struct Row {
    const char* Text;
    std::int32_t Value;
  };
  const Row rows[] = {
      {"128", 128},
      {"0050", 50},
      {"  7", 7},
      {"+5", 5},
      {"-5", -5},
      {"  -12", -12},
      {"0", 0},
      {"$10", 16},
      {"x1f", 31},
      {"X1F", 31},
      {"0x80", 128},
      {"0XfF", 255},
      {"-$10", -16},
      {"+0x7fffffff", 2147483647},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-0x80000000", -2147483647 - 1},
      {"00000000000000000000000001", 1},
      {"$0", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Text);
    const auto value = ParseInteger(QString::fromUtf8(row.Text));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, row.Value);
  }
}

TEST(ParseInteger, RejectsEverythingElse) {
  for (const char* text : {"",           " ",          "-",
                           "+",          "$",          "x",
                           "0x",         "12a",        "abc",
                           "1 ",         " 1 ",        "- 5",
                           "+-5",        "--5",        "1.5",
                           "1e3",        "2147483648", "-2147483649",
                           "0x80000000", "$FFFFFFFF",  "99999999999999999999",
                           "0x-5",       "$$1",        "\t5",
                           "5\n",        "１２"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseInteger(QString::fromUtf8(text)).has_value());
  }
}

TEST(ThresholdFromText, FallsBackTo128) {
  EXPECT_EQ(ThresholdFromText("0x80"), 128);
  EXPECT_EQ(ThresholdFromText("200"), 200);
  EXPECT_EQ(ThresholdFromText("12a"), 128);
  EXPECT_EQ(ThresholdFromText(""), 128);
  EXPECT_EQ(ThresholdFromText("-5"), -5);
}

}  // namespace
}  // namespace pagetrim
