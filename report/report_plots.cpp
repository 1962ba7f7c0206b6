#include "report/report_plots.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QGraphicsScene>
#include <QPainter>
#include <QPen>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cmath>

namespace meravel {

using namespace QtCharts;

namespace {

// A chart and the scene that owns it; rendered once into an image.
class ChartCanvas {
 public:
  ChartCanvas(const QString& title, QSize size) : size_(size), chart_(new QChart) {
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->setTitle(title);
    chart_->legend()->setVisible(false);
    chart_->setBackgroundRoundness(0);
    scene_.addItem(chart_);
    chart_->resize(size);
  }
  QChart* chart() { return chart_; }

  // Axes spanning [x_low, x_high] x [y_low, y_high], attached to every series.
  void set_axes(const QString& x_title, double x_low, double x_high, const QString& y_title,
                double y_low, double y_high) {
    auto* x = new QValueAxis;
    auto* y = new QValueAxis;
    x->setTitleText(x_title);
    y->setTitleText(y_title);
    x->setRange(x_low, x_high);
    y->setRange(y_low, y_high);
    x->applyNiceNumbers();
    y->applyNiceNumbers();
    chart_->addAxis(x, Qt::AlignBottom);
    chart_->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries* series : chart_->series()) {
      series->attachAxis(x);
      series->attachAxis(y);
    }
  }

  QImage render() {
    // The chart lays out its axes on posted events: they must run before it is drawn.
    QCoreApplication::sendPostedEvents();
    QImage image(size_, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene_.render(&painter, QRectF(QPointF(0, 0), size_), QRectF(QPointF(0, 0), size_));
    return image;
  }

 private:
  QSize size_;
  QGraphicsScene scene_;
  QChart* chart_;  // owned by scene_
};

// [low, high] widened by 5 % on each side, and to a unit around a single value.
std::pair<double, double> padded_range(double low, double high) {
  if (!(high > low)) {
    const double half = std::max(std::fabs(low) * 0.05, 0.5);
    return {low - half, high + half};
  }
  const double pad = (high - low) * 0.05;
  return {low - pad, high + pad};
}

std::pair<double, double> range_of(const std::vector<QPointF>& points, bool x) {
  double low = INFINITY;
  double high = -INFINITY;
  for (const QPointF& p : points) {
    low = std::min(low, x ? p.x() : p.y());
    high = std::max(high, x ? p.x() : p.y());
  }
  if (points.empty()) return {0.0, 1.0};
  return padded_range(low, high);
}

QScatterSeries* markers(const std::vector<QPointF>& points) {
  auto* series = new QScatterSeries;
  series->setMarkerSize(7);
  series->setColor(QColor(31, 119, 180));
  series->setBorderColor(QColor(31, 119, 180));
  for (const QPointF& p : points) series->append(p);
  return series;
}

}  // namespace

QImage histogram_plot(const std::vector<double>& values, const QString& title,
                      const QString& value_title, QSize size) {
  ChartCanvas canvas(title, size);
  if (values.empty()) {
    canvas.chart()->addSeries(new QLineSeries);  // axes are drawn only for some series
    canvas.set_axes(value_title, 0, 1, QStringLiteral("photographs"), 0, 1);
    return canvas.render();
  }
  const auto [low_value, high_value] = std::minmax_element(values.begin(), values.end());
  const int bins = std::clamp(static_cast<int>(std::ceil(std::sqrt(values.size()))), 5, 30);
  double low = *low_value;
  double high = *high_value;
  if (!(high > low)) std::tie(low, high) = padded_range(low, high);
  const double width = (high - low) / bins;
  std::vector<int> counts(bins, 0);
  for (double v : values) {
    counts[std::clamp(static_cast<int>((v - low) / width), 0, bins - 1)]++;
  }
  // The bars as one stepped outline over the value axis.
  auto* outline = new QLineSeries;
  auto* ground = new QLineSeries;
  for (int i = 0; i < bins; ++i) {
    outline->append(low + i * width, counts[i]);
    outline->append(low + (i + 1) * width, counts[i]);
  }
  ground->append(low, 0);
  ground->append(high, 0);
  auto* bars = new QAreaSeries(outline, ground);
  bars->setColor(QColor(31, 119, 180, 170));
  bars->setBorderColor(QColor(20, 60, 120));
  canvas.chart()->addSeries(bars);
  const int tallest = *std::max_element(counts.begin(), counts.end());
  canvas.set_axes(value_title, low, high, QStringLiteral("measurements"), 0, tallest * 1.1 + 0.5);
  return canvas.render();
}

QImage scatter_plot(const std::vector<QPointF>& points, const QString& title,
                    const QString& x_title, const QString& y_title, QSize size) {
  ChartCanvas canvas(title, size);
  canvas.chart()->addSeries(markers(points));
  const auto [x_low, x_high] = range_of(points, true);
  const auto [y_low, y_high] = range_of(points, false);
  canvas.set_axes(x_title, x_low, x_high, y_title, y_low, y_high);
  return canvas.render();
}

QImage difference_plot(const std::vector<QPointF>& points, const Agreement& agreement,
                       const QString& title, QSize size) {
  ChartCanvas canvas(title, size);
  canvas.chart()->addSeries(markers(points));
  auto [x_low, x_high] = range_of(points, true);
  std::vector<QPointF> with_limits = points;
  const double lines[] = {agreement.mean_difference, agreement.lower_limit, agreement.upper_limit};
  for (double y : lines) {
    if (std::isfinite(y)) with_limits.push_back({x_low, y});
  }
  const auto [y_low, y_high] = range_of(with_limits, false);
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(lines[i])) continue;
    auto* line = new QLineSeries;
    line->append(x_low, lines[i]);
    line->append(x_high, lines[i]);
    QPen pen(i == 0 ? QColor(60, 60, 60) : QColor(200, 40, 40));
    pen.setWidth(2);
    if (i > 0) pen.setStyle(Qt::DashLine);
    line->setPen(pen);
    canvas.chart()->addSeries(line);
  }
  canvas.set_axes(QStringLiteral("mean of the pair"), x_low, x_high,
                  QStringLiteral("later minus earlier"), y_low, y_high);
  return canvas.render();
}

QByteArray png_bytes(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

}  // namespace meravel
