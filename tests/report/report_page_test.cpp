// The report written for a small series, read back by a real browser engine (Debian's chromium,
// headless) and by the command line.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "report/report_plots.h"
#include "report/report_writer.h"
#include "test_support.h"

using namespace meravel;

namespace {

// Three photographs: a.jpg measured twice with repeats beyond their errors, b.jpg twice in
// agreement, c.jpg once; each a light egg on a dark ground.
void write_series(const TempDirectory& dir) {
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg"}) {
    cv::Mat photo(240, 320, CV_8UC3, cv::Scalar::all(20));
    cv::ellipse(photo, {160, 120}, {60, 85}, 90, 0, 360, cv::Scalar::all(230), cv::FILLED);
    cv::imwrite(dir / name, photo);
  }
  dir.write("random_order.csv", "a.jpg;3;\nb.jpg;1;\nc.jpg;2;\n");
  dir.write("measures.csv",
            "Dateiname;Aufnahmedatum;Vermessungsdatum;Lambda;Energie;\n"
            "b.jpg;;x;1.21;0.4;\nc.jpg;;x;1.3;0.5;\na.jpg;;x;1.1;0.5;\nb.jpg;;x;1.22;0.4;\n"
            "a.jpg;;x;1.4;0.6;\n");
  const std::string model = ",1100,60,170,90,160,120,1,5,0,0,0,0";
  dir.write("measures_details.csv",
            "file,lambda,lambda_se,length_px,lambda_milli,width,height_px,rotation_deg,"
            "translation_x_px,translation_y_px,cut_off_top_percent,cut_off_bottom_percent,"
            "roi_x_px,roi_y_px,roi_width_px,roi_height_px,warn_energy_high\n"
            "b.jpg,1.21,0.02,170" +
                model + ",0\n" + "c.jpg,1.3,0.02,168" + model + ",1\n" + "a.jpg,1.1,0.02,171" +
                model + ",0\n" + "b.jpg,1.22,0.02,170" + model + ",0\n" + "a.jpg,1.4,0.02,171" +
                model + ",0\n");
}

// Reports every image's id, natural size and state, and any error, into attributes that
// --dump-dom shows.
const char kProbe[] = R"(<script>
window.addEventListener('error', e => document.documentElement.setAttribute('data-error',
    String(e.message || (e.target && e.target.id))), true);
window.addEventListener('load', () => document.body.setAttribute('data-images',
    [...document.images].map(i => i.id + ':' + i.naturalWidth + 'x' + i.naturalHeight +
                                  (i.complete ? '' : ':incomplete')).join(' ')));
</script>)";

struct Browser {
  QString program;
  // Runs the headless browser on `page` with `arguments`; its standard output.
  QByteArray run(const TempDirectory& profile, const QString& page, QStringList arguments) const {
    arguments = QStringList{"--headless",
                            "--no-sandbox",
                            "--disable-gpu",
                            "--disable-background-networking",
                            "--disable-component-update",
                            "--disable-sync",
                            "--no-first-run",
                            "--user-data-dir=" + QString::fromStdString(profile.path()),
                            "--virtual-time-budget=3000",
                            "--window-size=1400,2400"} +
                arguments + QStringList{"file://" + page};
    QProcess process;
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000)) << "the browser did not end";
    return process.readAllStandardOutput();
  }
};

TEST(ReportPage, LoadsInARealBrowserWithTableAndPlots) {
  const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
  if (chromium.isEmpty()) {
    GTEST_SKIP() << "chromium is not installed here (scripts/setup installs it): the page was "
                    "not opened in a browser.";
  }
  TempDirectory dir;
  write_series(dir);
  const ReportOutcome outcome = write_report(dir.path(), dir / "report");
  ASSERT_TRUE(outcome.written) << outcome.error;
  const std::string page = dir.read("report/report.html");
  // Self-contained: nothing is fetched.
  EXPECT_EQ(page.find("http://"), std::string::npos);
  EXPECT_EQ(page.find("https://"), std::string::npos);
  EXPECT_EQ(QString::fromStdString(page).count(QRegularExpression("src=\"(?!data:image/png)")), 0);

  std::string probed = page;
  probed.insert(probed.rfind("</body>"), kProbe);
  dir.write("report/probe.html", probed);
  TempDirectory profile;
  const Browser browser{chromium};
  const QString dom = QString::fromUtf8(
      browser.run(profile, QString::fromStdString(dir / "report/probe.html"), {"--dump-dom"}));
  ASSERT_FALSE(dom.isEmpty()) << "the browser showed no page";
  EXPECT_FALSE(dom.contains(QRegularExpression("<html[^>]*data-error")))
      << dom.toStdString().substr(0, 2000);
  const QRegularExpressionMatch images = QRegularExpression("data-images=\"([^\"]*)\"").match(dom);
  ASSERT_TRUE(images.hasMatch()) << "the page's load event never came";
  // Three plots of the plot size, and a review tile for each of a.jpg's two measurements.
  EXPECT_EQ(images.captured(1).toStdString(),
            "plot-histogram:640x400 plot-length:640x400 plot-differences:640x400 "
            "tile-1:192x192 tile-2:192x192");
  // The photographs' table with a row for each photograph.
  EXPECT_TRUE(dom.contains("id=\"summary\""));
  for (const char* file : {">a.jpg<", ">b.jpg<", ">c.jpg<"}) EXPECT_TRUE(dom.contains(file));
  EXPECT_TRUE(dom.contains("UNBLINDED"));

  browser.run(profile, QString::fromStdString(dir / "report/probe.html"),
              {"--screenshot=" + QString::fromStdString(dir / "shot.png")});
  const QImage shot(QString::fromStdString(dir / "shot.png"));
  ASSERT_EQ(shot.size(), QSize(1400, 2400));
  // The red notice and the plots' blue are on the screen.
  int red = 0, blue = 0;
  for (int y = 0; y < shot.height(); y += 2) {
    for (int x = 0; x < shot.width(); x += 2) {
      const QColor c = shot.pixelColor(x, y);
      red += c.red() > 150 && c.green() < 40 && c.blue() < 40;
      blue += c.blue() > 150 && c.red() < 120;
    }
  }
  EXPECT_GT(red, 1000);
  EXPECT_GT(blue, 1000);
}

TEST(ReportPage, PlotsAreDrawn) {
  // Each plot holds more than its background: axes, labels, markers.
  const std::vector<QImage> plots = {
      histogram_plot({1.1, 1.2, 1.2, 1.3}, "h", "lambda"),
      scatter_plot({{50, 1.1}, {52, 1.3}}, "s", "length", "lambda"),
      difference_plot({{1.2, 0.1}, {1.25, -0.05}}, limits_of_agreement({0.1, -0.05}), "d"),
      histogram_plot({}, "empty", "lambda"),
  };
  for (const QImage& plot : plots) {
    EXPECT_EQ(plot.size(), QSize(kPlotWidth, kPlotHeight));
    int dark = 0;
    for (int y = 0; y < plot.height(); ++y)
      for (int x = 0; x < plot.width(); ++x) dark += qGray(plot.pixel(x, y)) < 128;
    EXPECT_GT(dark, 500);
    const QImage decoded = QImage::fromData(png_bytes(plot), "PNG");
    EXPECT_EQ(decoded.size(), plot.size());
  }
}

TEST(ReportCommand, WritesTheReportAndSaysItUnblinds) {
  TempDirectory dir;
  write_series(dir);
  struct Case {
    QStringList arguments;
    int status;
    const char* output;  // a piece of standard output or error
    const char* page;    // the page written, relative to the series
  };
  const QString series = QString::fromStdString(dir.path());
  const Case cases[] = {
      {{"report", series}, 0, "unblinded", "unblinded_report/report.html"},
      {{"report", series, "--out", series + "/elsewhere"}, 0, "elsewhere", "elsewhere/report.html"},
      {{"report"}, 2, "report takes one series directory", nullptr},
      {{"report", series + "/missing"}, 1, "missing is not a directory", nullptr},
      {{"report", series, "--colour"}, 2, "Unknown option", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    QProcess program;
    program.start(QStringLiteral(MERAVEL_BUILD_DIR "/meravel"), c.arguments);
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitCode(), c.status);
    const QString output = program.readAllStandardOutput() + program.readAllStandardError();
    EXPECT_TRUE(output.contains(c.output)) << output.toStdString();
    if (c.page) {
      EXPECT_TRUE(dir.exists(c.page));
      const std::string summary = dir.read(
          std::string(c.page).replace(std::string(c.page).rfind('/') + 1, 11, "summary.csv"));
      EXPECT_NE(summary.find("\na.jpg,3,2,0,0,1.25,"), std::string::npos) << summary;
    }
  }
  EXPECT_FALSE(dir.exists("missing")) << "a mistyped series was made";
}

}  // namespace
