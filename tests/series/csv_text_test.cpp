// The text forms of the comma-separated files: quoting and splitting as RFC 4180 says, numbers
// that read back exactly and keep their "." under a comma locale, ISO 8601 times with offsets.
#include "series/csv_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace meravel;

namespace {

std::tm local_time(int year, int month, int day, int hour, int minute, int second,
                   long utc_offset_s) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_gmtoff = utc_offset_s;
  return t;
}

}  // namespace

TEST(CsvText, FieldsAreQuotedOnlyWhenTheyMustBe) {
  struct Case {
    std::string text;
    std::string field;
  } const cases[] = {
      {"IMG_0001.JPG", "IMG_0001.JPG"},
      {"", ""},
      {" leading and trailing blanks ", " leading and trailing blanks "},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r\nlf", "\"cr\r\nlf\""},
      {"semi;colon", "semi;colon"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(csv_field(c.text), c.field);
  }
  EXPECT_EQ(csv_record({"a", "b,c", ""}), "a,\"b,c\",\n");
}

// Whatever the fields hold, a written record splits into the same fields again, and the records
// after a field with line breaks start on the right line.
TEST(CsvText, WrittenRecordsSplitBackIntoTheirFields) {
  const std::vector<std::vector<std::string>> records = {
      {"file", "value"},      {"plain.jpg", "1"},       {"dir/with,comma.jpg", "2"},
      {"\"quoted\".jpg", ""}, {"line\nbreak.jpg", "3"}, {"crlf\r\ninside.jpg", "4"},
      {"", "", ""},           {"trailing empty", ""},   {","},
  };
  std::string text;
  for (const auto& fields : records) text += csv_record(fields);
  const CsvText parsed = parse_csv(text);
  ASSERT_EQ(parsed.problem, "");
  ASSERT_EQ(parsed.records.size(), records.size());
  const int lines[] = {1, 2, 3, 4, 5, 7, 9, 10, 11};
  for (size_t i = 0; i < records.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(parsed.records[i].fields, records[i]);
    EXPECT_EQ(parsed.records[i].line, lines[i]);
  }
}

TEST(CsvText, LineEndingsEmptyLinesAndProblems) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::vector<std::string>> fields;
    std::string problem;
    int problem_line;
  } const cases[] = {
      {"CRLF records", "a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}, "", 0},
      {"last line without a line break", "a,b\nc,d", {{"a", "b"}, {"c", "d"}}, "", 0},
      {"empty lines hold no record", "\na,b\n\r\n\nc\n", {{"a", "b"}, {"c"}}, "", 0},
      {"a lone CR stays in the field", "a\rb,c\n", {{"a\rb", "c"}}, "", 0},
      {"empty text", "", {}, "", 0},
      {"quote not closed", "a,b\nc,\"d\ne\n", {{"a", "b"}}, "a quoted field is not closed", 2},
      {"text after a closing quote",
       "a\n\"b\"c,d\n",
       {{"a"}},
       "text after the closing quote of a field",
       2},
      {"quote inside a field",
       "a\nb\n1\"2\n",
       {{"a"}, {"b"}},
       "a quote inside a field that does not start with one",
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CsvText parsed = parse_csv(c.text);
    EXPECT_EQ(parsed.problem, c.problem);
    EXPECT_EQ(parsed.problem_line, c.problem_line);
    ASSERT_EQ(parsed.records.size(), c.fields.size());
    for (size_t i = 0; i < c.fields.size(); ++i) EXPECT_EQ(parsed.records[i].fields, c.fields[i]);
  }
}

TEST(CsvText, NumbersAreShortestExactAndKeepTheirPointUnderACommaLocale) {
  struct Case {
    double value;
    const char* round_trip;
    const char* ten_digits;
  } const cases[] = {
      {0.1, "0.1", "0.1"},
      {56.25, "56.25", "56.25"},
      {8, "8", "8"},
      {1.005, "1.005", "1.005"},
      {1e20, "1e+20", "1e+20"},
      {2.0 / 3, "0.6666666666666666", "0.6666666667"},
      {9391000000.123, "9391000000.123", "9391000000"},
      {123456789012.0, "123456789012", "1.23456789e+11"},
      {-0.5, "-0.5", "-0.5"},
      {std::numeric_limits<double>::infinity(), "inf", "inf"},
  };
  const std::string old_locale = std::setlocale(LC_ALL, nullptr);
  const bool comma_locale = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.round_trip);
    EXPECT_EQ(round_trip_number(c.value), c.round_trip);
    EXPECT_EQ(number_with_digits(c.value, 10), c.ten_digits);
  }
  std::setlocale(LC_ALL, old_locale.c_str());
  if (!comma_locale) GTEST_SKIP() << "de_DE.UTF-8 locale missing: checked in the C locale only";
}

// Random values over many magnitudes read back bit for bit, and ten digits are printf's %.10g.
TEST(CsvText, RandomNumbersReadBackExactly) {
  std::mt19937_64 random(13);
  std::uniform_real_distribution<double> mantissa(-1, 1);
  std::uniform_int_distribution<int> exponent(-12, 12);
  for (int i = 0; i < 2000; ++i) {
    const double value = mantissa(random) * std::pow(10.0, exponent(random));
    SCOPED_TRACE(testing::Message() << std::hexfloat << value);
    const std::optional<double> back = parse_number(round_trip_number(value));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, value);
    char printed[64];
    std::snprintf(printed, sizeof printed, "%.10g", value);
    EXPECT_EQ(number_with_digits(value, 10), printed);
  }
}

TEST(CsvText, OnlyPlainNumbersAreRead) {
  struct Case {
    const char* text;
    std::optional<double> value;
  } const cases[] = {
      {"12", 12},   {"-0.5", -0.5}, {"1e-3", 1e-3}, {".5", 0.5},   {"5.", 5},
      {"", {}},     {"-", {}},      {".", {}},      {"+1", {}},    {" 1", {}},
      {"1 ", {}},   {"1,5", {}},    {"inf", {}},    {"-inf", {}},  {"nan", {}},
      {"0x10", {}}, {"1e", {}},     {"1e400", {}},  {"1.2.3", {}}, {"12mm", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_number(c.text), c.value);
  }
}

TEST(CsvText, TimesCarryTheirOffsetFromUtc) {
  struct Case {
    std::tm time;
    const char* text;
  } const cases[] = {
      {local_time(2026, 12, 10, 9, 14, 27, 3600), "2026-12-10T09:14:27+01:00"},
      {local_time(2026, 7, 1, 23, 0, 5, 7200), "2026-07-01T23:00:05+02:00"},
      {local_time(2012, 4, 2, 9, 5, 3, 0), "2012-04-02T09:05:03+00:00"},
      {local_time(2012, 4, 2, 9, 5, 3, -19800), "2012-04-02T09:05:03-05:30"},
      {local_time(2012, 4, 2, 9, 5, 3, 20700), "2012-04-02T09:05:03+05:45"},
      {local_time(987, 1, 2, 3, 4, 5, -36000), "0987-01-02T03:04:05-10:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(iso8601_time(c.time), c.text);
    EXPECT_TRUE(is_iso8601_time(c.text));
  }
  EXPECT_TRUE(is_iso8601_time("2026-12-10T09:14:27Z"));
  for (const char* text :
       {"2026-12-10 09:14:27+01:00", "2026-12-10T09:14:27", "2026-13-10T09:14:27+01:00",
        "2026-12-10T24:14:27+01:00", "2026-12-10T09:14:27+0100", "2026-12-10T09:14:27+01:60",
        "2026-12-10T09:14:27+01:00 ", "", "2012:04:02 09:05:03"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(is_iso8601_time(text));
  }
}
