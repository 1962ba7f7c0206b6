#include "report/series_records.h"

#include <gtest/gtest.h>

#include <cmath>

#include "measurement/session_record.h"
#include "report/report_contents.h"
#include "series/csv_text.h"
#include "series/details_file.h"

using namespace meravel;

namespace {

const char kMeasures[] =
    "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n"
    "a.jpg;;2026-12-01 10:00:00;1.1;0.5;\n"
    "b.jpg;;2026-12-01 10:01:00;1.3;0.6;\n"
    "a.jpg;;2026-12-01 10:02:00;1.3;0.4;\n"
    "c.jpg;;2026-12-01 10:03:00;6;inf;\n"
    "b.jpg;;2026-12-01 10:04:00;1.5;0.7;\n";

// Columns in an order of their own, one the program does not know, no lambda_pointed_up.
const char kDetails[] =
    "file,extra_from_later,lambda,length_mm,lambda_se,warn_energy_high,flags\n"
    "a.jpg,x,1.1,50,0.01,0,\n"
    "b.jpg,y,1.3,55,0.01,1,\"shadow, maybe\"\n"
    "a.jpg,x,1.3,52,0.01,0,\n"
    "c.jpg,x,6,,0.5,0,\n"
    "b.jpg,x,1.5,57,0.01,0,\n";

const std::vector<SeriesEntry> kOrder = {
    {"a.jpg", 30}, {"b.jpg", 10}, {"c.jpg", 20}, {"d.jpg", 40}};

TEST(SeriesRecords, ReadsDetailsColumnsByName) {
  const SeriesRecords r = parse_series_records(kMeasures, std::string(kDetails), {}, kOrder);
  ASSERT_EQ(r.measurements.size(), 5u);
  EXPECT_TRUE(r.has_details);
  EXPECT_TRUE(r.has_error_columns);
  EXPECT_EQ(r.measurements[1].values.at("length_mm"), 55);
  EXPECT_EQ(r.measurements[1].errors.at("lambda"), 0.01);
  EXPECT_EQ(r.measurements[1].flags, (std::vector<std::string>{"energy_high", "shadow, maybe"}));
  EXPECT_EQ(r.measurements[2].number, 2);  // a.jpg's second measurement
  EXPECT_TRUE(r.measurements[3].failed);
  EXPECT_EQ(r.measurements[3].values.count("length_mm"), 0u);
  EXPECT_EQ(r.positions.at("b.jpg"), 1);
  EXPECT_EQ(r.positions.at("d.jpg"), 4);
  EXPECT_TRUE(r.notes.empty()) << r.notes[0];
}

TEST(SeriesRecords, ReadsTheProgramsOwnDetailsRows) {
  DetailsRecord row;
  row.file = "a.jpg";
  row.lambda_milli = 1234;
  row.width = 150;
  row.height_px = 300;
  row.rotation_deg = 90;
  row.translation_x_px = 200;
  row.translation_y_px = 210;
  row.cut_off_top_percent = 1;
  row.cut_off_bottom_percent = 5;
  row.roi_width_px = 400;
  row.roi_height_px = 420;
  set_details_dimensions(row, ScaleLookup{});
  row.warnings_held = {"warn_energy_high"};
  const std::string details = format_details_header() + format_details_row(row);
  const SeriesRecords r = parse_series_records(
      "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\na.jpg;;x;1.234;0.5;\n", details,
      {}, {});
  ASSERT_EQ(r.measurements.size(), 1u);
  const RecordedMeasurement& m = r.measurements[0];
  EXPECT_EQ(m.values.at("lambda"), 1.234);
  EXPECT_NEAR(m.values.at("length_px"), row.dimensions_px->length, 1e-6);
  EXPECT_EQ(m.values.count("length_mm"), 0u);  // no scale
  ASSERT_TRUE(m.model);
  EXPECT_EQ(*m.model, (ModelParameters{1234, 150, 300, 90, 200, 210}));
  EXPECT_EQ(m.roi_height_px, 420);
  EXPECT_EQ(m.flags, std::vector<std::string>{"energy_high"});
}

TEST(SeriesRecords, WhatCannotBeUsedIsSaid) {
  struct Case {
    const char* name;
    std::optional<std::string> details;
    std::optional<std::string> withdrawals;
    const char* note;  // a piece of the note expected
    int with_length;   // measurements that got a length from the details
    int withdrawn;
  };
  const Case cases[] = {
      {"no details file", std::nullopt, std::nullopt, "no measures_details.csv", 0, 0},
      {"foreign header", std::string("name;lambda;x\na.jpg;1.1;2\n"), std::nullopt,
       "foreign header", 0, 0},
      {"out of step", std::string("file,lambda,length_mm\na.jpg,1.1,50\nc.jpg,1.3,55\n"),
       std::nullopt, "names another photograph than record 2", 1, 0},
      {"fewer rows", std::string("file,lambda,length_mm\na.jpg,1.1,50\n"), std::nullopt,
       "4 record(s) of measures.csv have no row", 1, 0},
      {"withdrawals", std::string(kDetails),
       std::string("file,measurement,withdrawn_at,reason\n"
                   "a.jpg,2,2026-12-02T10:00:00+01:00,axis across\n"
                   "b.jpg,7,2026-12-02T10:00:00+01:00,no such\n"),
       "1 withdrawal row(s) name no measurement", 4, 1},
      {"foreign withdrawals", std::string(kDetails), std::string("x,y\n1,2\n"),
       "no withdrawal was applied", 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SeriesRecords r = parse_series_records(kMeasures, c.details, c.withdrawals, kOrder);
    ASSERT_EQ(r.measurements.size(), 5u);
    std::string notes;
    for (const std::string& note : r.notes) notes += note + "\n";
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
    int with_length = 0;
    for (const RecordedMeasurement& m : r.measurements) with_length += m.values.count("length_mm");
    EXPECT_EQ(with_length, c.with_length);
    EXPECT_EQ(r.withdrawals, c.withdrawn);
    // lambda comes from measures.csv whatever the details hold.
    EXPECT_EQ(r.measurements[4].values.at("lambda"), 1.5);
  }
}

TEST(ReportContents, SummaryOfAHandCheckedSeries) {
  const SeriesRecords r = parse_series_records(
      kMeasures, std::string(kDetails),
      std::string("file,measurement,withdrawn_at,reason\nb.jpg,2,t,slipped\n"), kOrder);
  const ReportContents c = report_contents(r);
  EXPECT_EQ(c.records, 5);
  EXPECT_EQ(c.used, 3);
  EXPECT_EQ(c.withdrawn, 1);
  EXPECT_EQ(c.failed, 1);
  EXPECT_EQ(c.photographs_not_measured, 1);  // d.jpg
  EXPECT_EQ(c.values, (std::vector<std::string>{"lambda", "length_mm"}));
  // b (place 1): one measurement left; c (2): failed only; a (3): 1.1 and 1.3.
  const CsvText summary = parse_csv(summary_csv(c));
  ASSERT_EQ(summary.records.size(), 4u);
  EXPECT_EQ(csv_record(summary.records[0].fields),
            "file,position,measurements,withdrawn,failed,lambda_mean,lambda_sd,lambda_min,"
            "lambda_max,length_mm_mean,length_mm_sd,length_mm_min,length_mm_max,flags\n");
  EXPECT_EQ(csv_record(summary.records[1].fields),
            "b.jpg,1,1,1,0,1.3,,1.3,1.3,55,,55,55,\"energy_high; shadow, maybe\"\n");
  EXPECT_EQ(csv_record(summary.records[2].fields), "c.jpg,2,0,0,1,,,,,,,,,\n");
  const std::vector<std::string>& a = summary.records[3].fields;
  ASSERT_EQ(a.size(), 14u);
  EXPECT_EQ(a[0] + a[1] + a[2] + a[3] + a[4], "a.jpg3200");
  const double expected[] = {1.2, std::sqrt(0.02), 1.1, 1.3, 51, std::sqrt(2.0), 50, 52};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(*parse_number(a[5 + i]), expected[i], 1e-12) << i;
  // One photograph measured twice is not enough for an ICC.
  ASSERT_EQ(c.repeatability.size(), 2u);
  EXPECT_FALSE(c.repeatability[0].figures);
  std::string notes;
  for (const std::string& note : c.notes) notes += note + "\n";
  EXPECT_NE(notes.find("Only one photograph was measured twice"), std::string::npos) << notes;
  EXPECT_NE(notes.find("1 withdrawn measurement"), std::string::npos) << notes;
  EXPECT_NE(notes.find("1 failed fit"), std::string::npos) << notes;
}

TEST(ReportContents, RepeatsBeyondTheirStatedErrorsAreMarked) {
  // a: 1.1 and 1.3 with errors 0.01 (difference 0.2 > 1.96 * 0.014); b: 1.3 and 1.31.
  const std::string measures =
      "a.jpg;;x;1.1;0.5;\nb.jpg;;x;1.3;0.5;\na.jpg;;x;1.3;0.5;\nb.jpg;;x;1.31;0.5;\n";
  const std::string details =
      "file,lambda,lambda_se\na.jpg,1.1,0.01\nb.jpg,1.3,0.01\na.jpg,1.3,0.01\nb.jpg,1.31,0.01\n";
  const ReportContents c = report_contents(parse_series_records(measures, details, {}, {}));
  ASSERT_EQ(c.photographs.size(), 2u);
  EXPECT_TRUE(c.photographs[0].file == "a.jpg" && c.photographs[0].disagrees);
  EXPECT_FALSE(c.photographs[1].disagrees);
  ASSERT_EQ(c.lambda_pairs.size(), 2u);
  EXPECT_NEAR(c.lambda_pairs[0].difference, 0.2, 1e-12);
  EXPECT_NEAR(*c.lambda_pairs[0].stated_error, std::hypot(0.01, 0.01), 1e-15);
  ASSERT_TRUE(c.repeatability[0].figures);
  EXPECT_EQ(c.repeatability[0].figures->photographs, 2);
}

TEST(ReportContents, OneRowPerEggWhereRowsCarryAnEggIndex) {
  const std::string measures = "a.jpg;;x;1.1;0.5;\na.jpg;;x;1.4;0.5;\na.jpg;;x;1.2;0.5;\n";
  // The column a clutch measured egg by egg writes, and the short one.
  for (const std::string column : {"egg", "egg_index"}) {
    SCOPED_TRACE(column);
    const std::string details =
        "file,lambda," + column + "\na.jpg,1.1,1\na.jpg,1.4,2\na.jpg,1.2,1\n";
    const ReportContents c = report_contents(parse_series_records(measures, details, {}, {}));
    ASSERT_EQ(c.photographs.size(), 2u);
    EXPECT_EQ(c.photographs[0].egg, 1);
    EXPECT_EQ(c.photographs[0].measurements, 2);
    EXPECT_NEAR(c.photographs[0].values.at("lambda").mean, 1.15, 1e-12);
    EXPECT_EQ(c.photographs[1].measurements, 1);
    EXPECT_EQ(summary_csv(c).substr(0, 19), "file,egg,position,m");
  }
}

TEST(ReportContents, NoRepeatsAndOneMeasurementAreSaid) {
  struct Case {
    const char* measures;
    const char* note;
  };
  const Case cases[] = {
      {"", "no measurement yet"},
      {"a.jpg;;x;1.1;0.5;\n", "one measurement"},
      {"a.jpg;;x;1.1;0.5;\nb.jpg;;x;1.2;0.5;\n", "No photograph was measured twice"},
      {"a.jpg;;x;6;inf;\n", "No measurement can be used"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.measures);
    const ReportContents contents = report_contents(parse_series_records(c.measures, {}, {}, {}));
    std::string notes;
    for (const std::string& note : contents.notes) notes += note + "\n";
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
    EXPECT_FALSE(summary_csv(contents).empty());
  }
}

// A warning of error severity (the outline was the image frame: no egg was measured) makes its
// measurement a failed one; a caution only flags it.
TEST(SeriesRecords, AnErrorWarningFailsTheMeasurementACautionOnlyFlagsIt) {
  const char measures[] =
      "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n"
      "a.jpg;;x;1.1;0.5;\nb.jpg;;x;1.2;0.5;\nc.jpg;;x;1.3;0.5;\n";
  const char details[] =
      "file,lambda,warn_outline_is_frame,warn_energy_high\n"
      "a.jpg,1.1,1,0\nb.jpg,1.2,0,1\nc.jpg,1.3,0,0\n";
  const SeriesRecords r = parse_series_records(measures, std::string(details), {}, {});
  ASSERT_EQ(r.measurements.size(), 3u);
  EXPECT_TRUE(r.measurements[0].failed);
  EXPECT_EQ(r.measurements[0].flags, (std::vector<std::string>{"outline_is_frame"}));
  EXPECT_FALSE(r.measurements[1].failed);
  EXPECT_EQ(r.measurements[1].flags, (std::vector<std::string>{"energy_high"}));
  EXPECT_FALSE(r.measurements[2].failed);
}

}  // namespace
