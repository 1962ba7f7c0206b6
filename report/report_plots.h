// The report's plots, drawn by Qt Charts offscreen into images. Needs a QApplication (the charts
// are graphics widgets); with no display, QT_QPA_PLATFORM=offscreen serves.
#pragma once

#include <QImage>
#include <QPointF>
#include <QSize>
#include <QString>
#include <vector>

#include "report/repeatability.h"

namespace meravel {

// The default size of every plot, in pixels.
constexpr int kPlotWidth = 640;
constexpr int kPlotHeight = 400;

// Histogram of `values` in ceil(sqrt(n)) bins (5..30) of equal width; an empty chart with its
// title for no values.
QImage histogram_plot(const std::vector<double>& values, const QString& title,
                      const QString& value_title, QSize size = {kPlotWidth, kPlotHeight});

// One marker per point.
QImage scatter_plot(const std::vector<QPointF>& points, const QString& title,
                    const QString& x_title, const QString& y_title,
                    QSize size = {kPlotWidth, kPlotHeight});

// Difference against mean of repeat pairs (x: mean, y: difference) with the mean difference and
// the limits of agreement as horizontal lines.
QImage difference_plot(const std::vector<QPointF>& mean_and_difference, const Agreement& agreement,
                       const QString& title, QSize size = {kPlotWidth, kPlotHeight});

// The image as PNG file bytes.
QByteArray png_bytes(const QImage& image);

}  // namespace meravel
