#include "report/report_page.h"

#include <QByteArray>
#include <cmath>

#include "series/csv_text.h"

namespace meravel {

namespace {

// Four significant digits read well in a table; the CSV files keep every digit.
std::string shown(double value) {
  if (!std::isfinite(value)) return value > 0 ? "&infin;" : "&ndash;";
  return number_with_digits(value, 4);
}

std::string data_uri(const std::string& png) {
  const QByteArray base64 = QByteArray::fromStdString(png).toBase64();
  return "data:image/png;base64," + base64.toStdString();
}

std::string image(const PagePicture& picture) {
  return "<figure><img id=\"" + html_text(picture.id) + "\" src=\"" + data_uri(picture.png) +
         "\" width=\"" + std::to_string(picture.width) + "\" height=\"" +
         std::to_string(picture.height) + "\" alt=\"" + html_text(picture.title) +
         "\"><figcaption>" + html_text(picture.title) + "</figcaption></figure>\n";
}

const char kStyle[] = R"(<style>
body { font-family: sans-serif; margin: 1.5em; color: #222; }
.unblinded { background: #b00; color: #fff; padding: 0.6em 1em; font-weight: bold; }
.notes li { color: #833; }
table { border-collapse: collapse; margin: 0.5em 0 1.5em; font-size: 0.9em; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; text-align: right; white-space: nowrap; }
th { background: #eee; } td.text { text-align: left; }
tr.disagrees td { background: #fee; }
figure { display: inline-block; margin: 0.5em; }
</style>
)";

std::string repeatability_table(const ReportContents& c) {
  std::string t =
      "<table id=\"repeatability\"><tr><th>value</th><th>photographs</th><th>measurements</th>"
      "<th>ICC(1,1)</th><th>95 % CI</th><th>within-photograph SD</th><th>CV %</th>"
      "<th>mean</th></tr>\n";
  for (const ValueRepeatability& v : c.repeatability) {
    t += "<tr><td class=\"text\">" + html_text(v.value) + "</td>";
    if (v.figures) {
      const Repeatability& r = *v.figures;
      t += "<td>" + std::to_string(r.photographs) + "</td><td>" + std::to_string(r.measurements) +
           "</td><td>" + shown(r.icc) + "</td><td>" + shown(r.lower) + " &ndash; " +
           shown(r.upper) + "</td><td>" + shown(r.within_sd) + "</td><td>" + shown(r.cv_percent) +
           "</td><td>" + shown(r.grand_mean) + "</td>";
    } else {
      t += "<td colspan=\"7\" class=\"text\">fewer than two photographs measured twice</td>";
    }
    t += "</tr>\n";
  }
  return t + "</table>\n";
}

std::string summary_table(const ReportContents& c) {
  std::string t = "<table id=\"summary\"><tr><th>position</th><th>file</th>";
  if (c.egg_column) t += "<th>egg</th>";
  t += "<th>n</th><th>withdrawn</th><th>failed</th>";
  for (const std::string& value : c.values) {
    t += "<th>" + html_text(value) + " mean</th><th>SD</th><th>range</th>";
  }
  t += "<th>flags</th></tr>\n";
  for (const PhotographRow& row : c.photographs) {
    t += row.disagrees ? "<tr class=\"disagrees\">" : "<tr>";
    t += "<td>" + (row.position > 0 ? std::to_string(row.position) : std::string()) +
         "</td><td class=\"text\">" + html_text(row.file) + "</td>";
    if (c.egg_column) t += "<td>" + std::to_string(row.egg) + "</td>";
    t += "<td>" + std::to_string(row.measurements) + "</td><td>" + std::to_string(row.withdrawn) +
         "</td><td>" + std::to_string(row.failed) + "</td>";
    for (const std::string& value : c.values) {
      const ValueSummary& s = row.values.at(value);
      t += "<td>" + shown(s.mean) + "</td><td>" + shown(s.sd) + "</td><td>" +
           (s.n > 0 ? shown(s.min) + " &ndash; " + shown(s.max) : std::string()) + "</td>";
    }
    std::string flags;
    for (const std::string& flag : row.flags) flags += (flags.empty() ? "" : ", ") + flag;
    t += "<td class=\"text\">" + html_text(flags) + "</td></tr>\n";
  }
  return t + "</table>\n";
}

}  // namespace

std::string html_text(const std::string& text) {
  std::string out;
  for (char ch : text) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += ch;
    }
  }
  return out;
}

std::string report_page(const ReportContents& c, const std::string& series_directory,
                        const std::vector<PagePicture>& plots,
                        const std::vector<PagePicture>& tiles) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Unblinded "
      "report: " +
      html_text(series_directory) + "</title>\n" + kStyle + "</head><body>\n";
  page += "<h1>Report of the series " + html_text(series_directory) + "</h1>\n";
  page +=
      "<p class=\"unblinded\" id=\"unblinded\">UNBLINDED: this report names the photographs "
      "beside their measurements (summary.csv, report.html). Whoever still measures this series "
      "blind must not read it.</p>\n";
  if (!c.notes.empty()) {
    page += "<ul class=\"notes\" id=\"notes\">\n";
    for (const std::string& note : c.notes) page += "<li>" + html_text(note) + "</li>\n";
    page += "</ul>\n";
  }
  page += "<p id=\"counts\">" + std::to_string(c.records) +
          " records in measures.csv: " + std::to_string(c.used) + " used, " +
          std::to_string(c.withdrawn) + " withdrawn, " + std::to_string(c.failed) + " failed. " +
          std::to_string(c.photographs.size()) + (c.egg_column ? " eggs" : " photographs") +
          " measured, " + std::to_string(c.repeated_photographs) + " of them at least twice";
  if (c.photographs_in_order > 0) {
    page += "; " + std::to_string(c.photographs_not_measured) + " of the " +
            std::to_string(c.photographs_in_order) + " photographs in the order not measured";
  }
  page += ".</p>\n";

  page += "<h2>Repeatability</h2>\n" + repeatability_table(c);
  page +=
      "<p>ICC(1,1): one-way random effects, single measurement, over the photographs measured "
      "at least twice: (MSB &minus; MSW) / (MSB + (k<sub>0</sub> &minus; 1) MSW), with "
      "k<sub>0</sub> = (N &minus; &Sigma;k<sub>i</sub><sup>2</sup>/N) / (a &minus; 1) for "
      "unequal numbers of measurements; the 95 % interval from the F distribution. "
      "Within-photograph SD = &radic;MSW; CV = SD / mean.</p>\n";
  if (c.lambda_agreement.pairs > 0) {
    page +=
        "<p id=\"agreement\">Repeat pairs of lambda (each measurement against the one "
        "before it of the same photograph): " +
        std::to_string(c.lambda_agreement.pairs) + ", mean difference " +
        shown(c.lambda_agreement.mean_difference) + ", limits of agreement " +
        shown(c.lambda_agreement.lower_limit) + " to " + shown(c.lambda_agreement.upper_limit) +
        ".</p>\n";
  }

  page += "<h2>Plots</h2>\n<div id=\"plots\">\n";
  for (const PagePicture& plot : plots) page += image(plot);
  page += "</div>\n";

  page += "<h2>Photographs</h2>\n" + summary_table(c);

  page += "<h2>Repeats that disagree</h2>\n<p id=\"disagreement\">";
  if (c.error_columns) {
    page +=
        "A photograph is shown when two of its repeats of lambda differ by more than 1.96 "
        "times their combined stated standard error.";
  } else {
    page +=
        "The details file states no errors, so repeats cannot be held against them: a "
        "photograph is shown when a repeat difference of lambda lies outside the limits "
        "of agreement.";
  }
  page += tiles.empty() ? " None does.</p>\n" : "</p>\n<div id=\"tiles\">\n";
  for (const PagePicture& tile : tiles) page += image(tile);
  if (!tiles.empty()) page += "</div>\n";
  page += "</body></html>\n";
  return page;
}

}  // namespace meravel
