#include "series/int_to_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using namespace meravel;

TEST(IntToText, WritesEveryRadixAndSign) {
  struct Case {
    int value;
    int radix;
    const char* text;
  } const cases[] = {
      {0, 10, "0"},
      {7, 10, "7"},
      {1234, 10, "1234"},
      {-42, 10, "-42"},
      {INT_MAX, 10, "2147483647"},
      {INT_MIN, 10, "-2147483648"},
      {5, 2, "101"},
      {INT_MIN, 2, "-10000000000000000000000000000000"},
      {255, 16, "ff"},
      {-255, 16, "-ff"},
      {35, 36, "z"},
      {36, 36, "10"},
      {12, 1, ""},
      {12, 37, ""},
      {12, 0, ""},
      {-12, -10, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " radix " << c.radix);
    char buffer[40];
    std::fill(buffer, buffer + sizeof buffer, 'x');
    EXPECT_EQ(int_to_text(c.value, buffer, c.radix), buffer);
    EXPECT_EQ(std::string(buffer), c.text);
  }
}
