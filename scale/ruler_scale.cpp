#include <algorithm>
#include <cmath>
#include <complex>
#include <numeric>
#include <opencv2/imgproc.hpp>

#include "scale/scale_reading.h"
#include "scale/scale_reading_internal.h"

namespace meravel {

// A ruler is looked for in two steps. On a reduced copy of the photograph, the ticks show as a
// band of strong gradients that all point the same way (along the ruler) and that is long in that
// direction: a single edge (an egg's outline, the ruler's own border) is long across its gradient
// instead. Then, on the whole photograph, a strip along that band is averaged across the ruler
// into one profile; its autocorrelation gives the tick period, each tick's centre is taken to a
// fraction of a pixel from the profile, and a straight line through the centres against the tick
// number gives the spacing over all the ticks at once.

namespace {

// The reduced copy's longer side is at most this many pixels.
constexpr int kSearchSidePx = 2000;
// Gradient energy (grey levels per pixel, squared) of ticks that agree in direction, at least.
constexpr double kMinTickEnergy = 25.0;
// Structure tensor window on the reduced copy, pixels.
constexpr int kTensorWindow = 17;
// Gradient directions within this many degrees of a peak of the direction histogram form one band.
constexpr double kDirectionToleranceDeg = 7.5;
// A band must be this many times longer along its gradient than across it.
constexpr double kBandElongation = 2.5;
// The smallest tick spacing read, pixels of the photograph.
constexpr double kMinTickSpacingPx = 3.0;
// The residual standard deviation of the tick centres about the straight line may be at most this
// fraction of the spacing, and at least this fraction of the ticks in the read range must be seen.
constexpr double kMaxTickScatter = 0.1;
constexpr double kMinTicksSeen = 0.6;

struct Band {
  cv::Point2d origin;    // photograph pixels: the band's start, on its edge
  cv::Point2d along;     // unit vector along the ruler (the ticks' gradient)
  cv::Point2d across;    // unit vector across it
  double length_px = 0;  // along, photograph pixels
  double width_px = 0;   // across
};

// The bands of the reduced copy `small` (photograph pixel = (small + 0.5) * factor - 0.5), longest
// first.
std::vector<Band> tick_bands(const cv::Mat& small, int factor) {
  cv::Mat gx, gy;
  cv::Sobel(small, gx, CV_32F, 1, 0, 3, 1.0 / 8);
  cv::Sobel(small, gy, CV_32F, 0, 1, 3, 1.0 / 8);
  // The doubled-angle vector (gx^2 - gy^2, 2 gx gy) averaged over the window: its length is the
  // energy of gradients that agree in direction, its angle twice that direction.
  cv::Mat gxx = gx.mul(gx), gyy = gy.mul(gy);
  cv::Mat c = gxx - gyy, s = 2 * gx.mul(gy), energy = gxx + gyy;
  const cv::Size window(kTensorWindow, kTensorWindow);
  cv::boxFilter(c, c, -1, window);
  cv::boxFilter(s, s, -1, window);
  cv::boxFilter(energy, energy, -1, window);
  cv::Mat coherent;
  cv::magnitude(c, s, coherent);
  const cv::Mat mask = (coherent > 0.6 * energy) & (coherent > kMinTickEnergy);

  // The direction, in degrees 0..360 of the doubled angle, where the mask is set.
  constexpr int kBins = 36;
  std::vector<double> histogram(kBins, 0.0);
  cv::Mat angle2(small.size(), CV_32F, cv::Scalar(0));
  for (int y = 0; y < small.rows; ++y) {
    const uchar* m = mask.ptr<uchar>(y);
    const float* cy = c.ptr<float>(y);
    const float* sy = s.ptr<float>(y);
    const float* w = coherent.ptr<float>(y);
    float* a = angle2.ptr<float>(y);
    for (int x = 0; x < small.cols; ++x) {
      if (!m[x]) continue;
      a[x] = cv::fastAtan2(sy[x], cy[x]);
      histogram[std::min(kBins - 1, static_cast<int>(a[x] / 360 * kBins))] += w[x];
    }
  }
  const double top = *std::max_element(histogram.begin(), histogram.end());
  std::vector<Band> bands;
  if (!(top > 0)) return bands;
  std::vector<int> peaks;
  for (int b = 0; b < kBins; ++b) {
    const double h = histogram[b];
    if (h >= 0.05 * top && h >= histogram[(b + 1) % kBins] &&
        h > histogram[(b + kBins - 1) % kBins]) {
      peaks.push_back(b);
    }
  }
  std::sort(peaks.begin(), peaks.end(), [&](int a, int b) { return histogram[a] > histogram[b]; });
  if (peaks.size() > 4) peaks.resize(4);

  for (int peak : peaks) {
    const double centre2 = (peak + 0.5) * 360.0 / kBins;
    cv::Mat selected(small.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < small.rows; ++y) {
      const uchar* m = mask.ptr<uchar>(y);
      const float* a = angle2.ptr<float>(y);
      uchar* out = selected.ptr<uchar>(y);
      for (int x = 0; x < small.cols; ++x) {
        if (!m[x]) continue;
        double off = std::abs(a[x] - centre2);
        if (off > 180) off = 360 - off;
        out[x] = off <= 2 * kDirectionToleranceDeg ? 255 : 0;
      }
    }
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(selected, labels, stats, centroids, 8);
    // One pass for each component's direction (its mean doubled-angle vector), one for its extent
    // along and across that direction.
    std::vector<double> sum_c(count, 0.0), sum_s(count, 0.0);
    std::vector<char> large(count, 0);
    for (int label = 1; label < count; ++label) {
      const int width = stats.at<int>(label, cv::CC_STAT_WIDTH);
      const int height = stats.at<int>(label, cv::CC_STAT_HEIGHT);
      large[label] = stats.at<int>(label, cv::CC_STAT_AREA) >= 4 * kTensorWindow &&
                     std::hypot(width, height) * factor >= kRulerMinTicks * kMinTickSpacingPx;
    }
    for (int y = 0; y < small.rows; ++y) {
      const int* l = labels.ptr<int>(y);
      const float* cy = c.ptr<float>(y);
      const float* sy = s.ptr<float>(y);
      for (int x = 0; x < small.cols; ++x) {
        if (!large[l[x]]) continue;
        sum_c[l[x]] += cy[x];
        sum_s[l[x]] += sy[x];
      }
    }
    std::vector<cv::Point2d> along(count);
    std::vector<double> u0(count, 1e300), u1(count, -1e300), v0(count, 1e300), v1(count, -1e300);
    for (int label = 1; label < count; ++label) {
      const double direction = std::atan2(sum_s[label], sum_c[label]) / 2;
      along[label] = cv::Point2d(std::cos(direction), std::sin(direction));
    }
    for (int y = 0; y < small.rows; ++y) {
      const int* l = labels.ptr<int>(y);
      for (int x = 0; x < small.cols; ++x) {
        const int label = l[x];
        if (!large[label]) continue;
        const double u = x * along[label].x + y * along[label].y;
        const double v = -x * along[label].y + y * along[label].x;
        u0[label] = std::min(u0[label], u);
        u1[label] = std::max(u1[label], u);
        v0[label] = std::min(v0[label], v);
        v1[label] = std::max(v1[label], v);
      }
    }
    for (int label = 1; label < count; ++label) {
      if (!large[label]) continue;
      const double length = u1[label] - u0[label], width = std::max(1.0, v1[label] - v0[label]);
      if (length < kBandElongation * width) continue;
      if (length * factor < kRulerMinTicks * kMinTickSpacingPx) continue;
      Band band;
      band.along = along[label];
      band.across = cv::Point2d(-band.along.y, band.along.x);
      const cv::Point2d start_small = u0[label] * band.along + v0[label] * band.across;
      band.origin = (start_small + cv::Point2d(0.5, 0.5)) * factor - cv::Point2d(0.5, 0.5);
      band.length_px = length * factor;
      band.width_px = width * factor;
      bands.push_back(band);
    }
  }
  std::sort(bands.begin(), bands.end(),
            [](const Band& a, const Band& b) { return a.length_px > b.length_px; });
  return bands;
}

// The strip along `band`, resampled from the photograph: one column per pixel along, rows
// across it at most 64 (CV_32F).
cv::Mat band_strip(const cv::Mat& grey, const Band& band, double margin_px, cv::Point2d* start) {
  const int length = static_cast<int>(band.length_px + 2 * margin_px);
  const int rows = std::clamp(static_cast<int>(band.width_px / 2), 4, 64);
  const double row_step = band.width_px / rows;
  *start = band.origin - margin_px * band.along;
  // dst (i, j) -> photograph start + i along + j row_step across.
  const cv::Matx23d to_photo(band.along.x, band.across.x * row_step, start->x, band.along.y,
                             band.across.y * row_step, start->y);
  cv::Mat strip;
  cv::warpAffine(grey, strip, to_photo, cv::Size(length, rows),
                 cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
  strip.convertTo(strip, CV_32F);
  return strip;
}

std::vector<double> mean_of_rows(const cv::Mat& strip, const std::vector<int>& rows) {
  std::vector<double> profile(strip.cols, 0.0);
  for (int row : rows) {
    const float* values = strip.ptr<float>(row);
    for (int i = 0; i < strip.cols; ++i) profile[i] += values[i];
  }
  for (double& value : profile) value /= rows.size();
  return profile;
}

// The profile along the strip read from the rows that show the ticks best. Ticks of every
// millimetre fill only part of the band (the longer ones and the numbers fill the rest), so all
// rows, the rows that vary most along the ruler, and each third of the band are tried, and the
// reading with the most ticks is kept, with the rows it was read from.
ScaleReading read_strip(const cv::Mat& strip, std::vector<int>* rows_used) {
  std::vector<std::vector<int>> subsets(1);
  std::vector<double> spread(strip.rows);
  for (int r = 0; r < strip.rows; ++r) {
    cv::Scalar mean, deviation;
    cv::meanStdDev(strip.row(r), mean, deviation);
    spread[r] = deviation[0];
    subsets[0].push_back(r);
  }
  const double most = *std::max_element(spread.begin(), spread.end());
  subsets.emplace_back();
  for (int r = 0; r < strip.rows; ++r) {
    if (spread[r] >= 0.6 * most) subsets.back().push_back(r);
  }
  for (int third = 0; third < 3; ++third) {
    subsets.emplace_back();
    for (int r = third * strip.rows / 3; r < (third + 1) * strip.rows / 3; ++r) {
      subsets.back().push_back(r);
    }
  }
  ScaleReading best;
  for (const std::vector<int>& rows : subsets) {
    if (rows.empty()) continue;
    ScaleReading reading = read_ruler_profile(mean_of_rows(strip, rows));
    if (!reading.found() && best.note.empty()) best.note = reading.note;
    if (!reading.found()) continue;
    if (best.found() &&
        (best.ticks.size() > reading.ticks.size() || (best.ticks.size() == reading.ticks.size() &&
                                                      best.px_per_mm_se <= reading.px_per_mm_se))) {
      continue;
    }
    best = std::move(reading);
    *rows_used = rows;
  }
  return best;
}

// How far the ticks' centres move along the strip from one row to the next (strip pixels per
// row): zero when the strip runs exactly along the ruler. `ticks` are the centres of the mean
// profile of `rows`, `spacing` their spacing. Only those rows where the ticks show clearly count.
double tick_slant(const cv::Mat& strip, const std::vector<int>& rows,
                  const std::vector<cv::Point2f>& ticks, double spacing) {
  const std::vector<double> mean = mean_of_rows(strip, rows);
  double at_ticks = 0;
  for (const cv::Point2f& t : ticks) at_ticks += mean[cvRound(t.x)];
  const double overall = std::accumulate(mean.begin(), mean.end(), 0.0) / mean.size();
  const double sign = at_ticks / ticks.size() > overall ? 1.0 : -1.0;
  const int reach = std::max(1, static_cast<int>(spacing / 3));
  std::vector<double> shift(strip.rows, 0.0), contrast(strip.rows, 0.0);
  for (int row : rows) {
    const float* values = strip.ptr<float>(row);
    double moved = 0, weight_sum = 0;
    for (const cv::Point2f& t : ticks) {
      const int lo = std::max(0, static_cast<int>(t.x - spacing / 2));
      const int hi = std::min(strip.cols - 1, static_cast<int>(t.x + spacing / 2));
      std::vector<double> window;
      for (int i = lo; i <= hi; ++i) window.push_back(sign * values[i]);
      if (window.size() < 3) continue;
      std::nth_element(window.begin(), window.begin() + window.size() / 4, window.end());
      const double ground = window[window.size() / 4];
      const int centre = cvRound(t.x);
      double weight = 0, moment = 0;
      for (int i = std::max(lo, centre - reach); i <= std::min(hi, centre + reach); ++i) {
        const double w = std::max(0.0, sign * values[i] - ground);
        weight += w;
        moment += w * (i - t.x);
      }
      if (weight <= 0) continue;
      moved += moment;
      weight_sum += weight;
    }
    if (weight_sum > 0) shift[row] = moved / weight_sum;
    contrast[row] = weight_sum;
  }
  const double clearest = *std::max_element(contrast.begin(), contrast.end());
  double sw = 0, sj = 0, ss = 0, sjj = 0, sjs = 0;
  for (int row : rows) {
    if (contrast[row] < 0.5 * clearest) continue;
    sw += 1;
    sj += row;
    ss += shift[row];
    sjj += row * row;
    sjs += row * shift[row];
  }
  const double denominator = sw * sjj - sj * sj;
  return sw >= 3 && denominator > 0 ? (sw * sjs - sj * ss) / denominator : 0.0;
}

}  // namespace

ScaleReading read_ruler_profile(const std::vector<double>& profile) {
  ScaleReading reading;
  const int n = static_cast<int>(profile.size());
  const int max_lag = n / kRulerMinTicks;
  if (max_lag < kMinTickSpacingPx + 2) {
    reading.note = "too short for a ruler";
    return reading;
  }
  // Slow changes of brightness along the ruler are taken out: a moving average twice over (a
  // triangle) three times as wide as the longest tick spacing read passes little of the ticks
  // themselves, and costs two running sums whatever its width.
  cv::Mat trend;
  const int window = 2 * (3 * max_lag / 2) + 1;
  cv::blur(cv::Mat(profile).reshape(1, 1), trend, cv::Size(window, 1), cv::Point(-1, -1),
           cv::BORDER_REPLICATE);
  cv::blur(trend, trend, cv::Size(window, 1), cv::Point(-1, -1), cv::BORDER_REPLICATE);
  std::vector<double> h(n);
  double m2 = 0;
  for (int i = 0; i < n; ++i) {
    h[i] = profile[i] - trend.at<double>(0, i);
    m2 += h[i] * h[i];
  }
  if (!(m2 > 0)) {
    reading.note = "no ticks";
    return reading;
  }

  // The autocorrelation through the Fourier transform (padded against wrap-around).
  std::vector<double> r(max_lag + 2, 0.0);
  {
    cv::Mat padded = cv::Mat::zeros(1, cv::getOptimalDFTSize(2 * n), CV_64F);
    std::copy(h.begin(), h.end(), padded.ptr<double>(0));
    cv::Mat spectrum, correlation;
    cv::dft(padded, spectrum, cv::DFT_COMPLEX_OUTPUT);
    cv::mulSpectrums(spectrum, spectrum, spectrum, 0, true);
    cv::dft(spectrum, correlation, cv::DFT_INVERSE | cv::DFT_SCALE | cv::DFT_REAL_OUTPUT);
    for (int k = 1; k <= max_lag + 1; ++k) {
      r[k] = correlation.at<double>(0, k) / m2 * n / (n - k);
    }
  }
  const int first = static_cast<int>(std::ceil(kMinTickSpacingPx));
  double best = 0;
  for (int k = first; k <= max_lag; ++k) {
    if (r[k] > r[k - 1] && r[k] >= r[k + 1]) best = std::max(best, r[k]);
  }
  int lag = 0;
  for (int k = first; k <= max_lag; ++k) {
    if (r[k] > r[k - 1] && r[k] >= r[k + 1] && r[k] >= 0.6 * best) {
      lag = k;
      break;
    }
  }
  if (lag == 0 || r[lag] < 0.3) {
    reading.note = "no regular ticks";
    return reading;
  }
  // The lag's whole samples are too coarse over a long ruler: the spacing is refined to where the
  // profile's power at that frequency peaks, on a grid finer than the peak's width.
  const auto power = [&](double p) {
    std::complex<double> sum = 0, turn = 1;
    const std::complex<double> step = std::polar(1.0, -2 * CV_PI / p);
    for (int i = 0; i < n; ++i) {
      sum += h[i] * turn;
      turn *= step;
      if (i % 256 == 255) turn /= std::abs(turn);  // keep the rotation's length 1
    }
    return std::norm(sum);
  };
  // The true spacing lies within a sample of the lag (the autocorrelation's two samples round it
  // are blurred and noisy).
  const double grid = std::max(2.0 / 60, lag * lag / (4.0 * n));
  double period = lag, period_power = 0;
  for (double p = lag - 1; p <= lag + 1; p += grid) {
    if (p < kMinTickSpacingPx - 0.5) continue;
    const double value = power(p);
    if (value > period_power) period_power = value, period = p;
  }
  {
    const double before = power(period - grid), after = power(period + grid);
    const double curvature = before - 2 * period_power + after;
    if (curvature < 0) period += 0.5 * grid * (before - after) / curvature;
  }

  // Now that the spacing is known, the ground under the ticks is the mean over exactly one
  // spacing around each sample: that passes none of the ticks and follows any smooth trend.
  {
    std::vector<double> cumulative(n + 1, 0.0);
    for (int i = 0; i < n; ++i) cumulative[i + 1] = cumulative[i] + profile[i];
    const auto sum_to = [&](double x) {  // the sum of the samples' cover of [-0.5, x - 0.5]
      x = std::clamp(x, 0.0, static_cast<double>(n));
      const int whole = std::min(n - 1, static_cast<int>(x));
      return cumulative[whole] + (x - whole) * profile[whole];
    };
    for (int i = 0; i < n; ++i) {
      const double from = std::clamp(i + 0.5 - period / 2, 0.0, n - period);
      h[i] = profile[i] - (sum_to(from + period) - sum_to(from)) / period;
    }
  }
  // Ticks are narrower than the gaps between them: in the profile folded over one spacing, fewer
  // phases lie beyond the middle level on the ticks' side. Ticks are made the peaks.
  {
    constexpr int kPhases = 16;
    std::vector<double> sum(kPhases, 0.0);
    std::vector<int> count(kPhases, 0);
    for (int i = 0; i < n; ++i) {
      const int bin = static_cast<int>(std::fmod(i / period, 1.0) * kPhases) % kPhases;
      sum[bin] += h[i];
      ++count[bin];
    }
    for (int b = 0; b < kPhases; ++b) sum[b] /= std::max(1, count[b]);
    const auto [low, high] = std::minmax_element(sum.begin(), sum.end());
    const double middle = (*low + *high) / 2;
    const long above = std::count_if(sum.begin(), sum.end(), [&](double v) { return v > middle; });
    if (above > kPhases / 2) {
      for (double& value : h) value = -value;
    }
  }

  // The first tick: the phase of the profile at the tick frequency.
  std::complex<double> z = 0;
  for (int i = 0; i < n; ++i) z += h[i] * std::polar(1.0, -2 * CV_PI * i / period);
  double phase = -std::arg(z) / (2 * CV_PI) * period;
  while (phase - period / 2 >= 0) phase -= period;
  while (phase + period / 2 < 0) phase += period;

  struct Tick {
    int number;
    double centre;
    double strength;
  };
  std::vector<Tick> ticks;
  for (int k = 0;; ++k) {
    const double expected = phase + k * period;
    if (expected > n - 1) break;
    const int lo = std::max(0, static_cast<int>(std::ceil(expected - period / 2)));
    const int hi = std::min(n - 1, static_cast<int>(std::floor(expected + period / 2)));
    if (hi - lo + 1 < period * 0.8) continue;  // cut by the profile's end
    // The centroid of the tick above the window's lower quartile (the ground between ticks: they
    // are the narrower part), within a third of a spacing of its highest sample. For a tick that
    // covers the samples in proportion, this is its centre exactly.
    std::vector<double> window(h.begin() + lo, h.begin() + hi + 1);
    std::nth_element(window.begin(), window.begin() + window.size() / 4, window.end());
    const double ground = window[window.size() / 4];
    const int top =
        static_cast<int>(std::max_element(h.begin() + lo, h.begin() + hi + 1) - h.begin());
    const int reach = std::max(1, static_cast<int>(period / 3));
    double weight = 0, moment = 0;
    for (int i = std::max(lo, top - reach); i <= std::min(hi, top + reach); ++i) {
      const double w = std::max(0.0, h[i] - ground);
      weight += w;
      moment += w * i;
    }
    const double strength = h[top] - ground;
    if (weight > 0) ticks.push_back({k, moment / weight, strength});
  }
  if (ticks.size() < static_cast<size_t>(kRulerMinTicks)) {
    reading.note = "too few ticks";
    return reading;
  }
  std::vector<double> strengths;
  for (const Tick& t : ticks) strengths.push_back(t.strength);
  std::nth_element(strengths.begin(), strengths.begin() + strengths.size() / 2, strengths.end());
  const double typical = strengths[strengths.size() / 2];
  std::vector<Tick> kept;
  for (const Tick& t : ticks) {
    if (t.strength >= 0.4 * typical) kept.push_back(t);
  }

  // centre = a + b k + c k^2 with k the tick number less the mean number, refitted without the
  // centres far off it: b is the spacing at the middle of the ticks used, c says how it changes
  // along them (perspective, a bent tape).
  cv::Vec3d coefficients(0, period, 0);
  double scatter = 0, b_variance = 0;
  for (int round = 0; round < 5; ++round) {
    if (kept.size() < static_cast<size_t>(kRulerMinTicks)) break;
    double mean_number = 0;
    for (const Tick& t : kept) mean_number += t.number;
    mean_number /= kept.size();
    cv::Matx33d normal = cv::Matx33d::zeros();
    cv::Vec3d right(0, 0, 0);
    for (const Tick& t : kept) {
      const double k = t.number - mean_number;
      const cv::Vec3d x(1, k, k * k);
      normal += x * x.t();
      right += x * t.centre;
    }
    const cv::Matx33d inverse = normal.inv(cv::DECOMP_CHOLESKY);
    coefficients = inverse * right;
    std::vector<double> residuals;
    double sum2 = 0;
    for (const Tick& t : kept) {
      const double k = t.number - mean_number;
      const double e = t.centre - coefficients[0] - coefficients[1] * k - coefficients[2] * k * k;
      residuals.push_back(std::abs(e));
      sum2 += e * e;
    }
    scatter = std::sqrt(sum2 / std::max<double>(1, kept.size() - 3.0));
    b_variance = scatter * scatter * inverse(1, 1);
    std::nth_element(residuals.begin(), residuals.begin() + residuals.size() / 2, residuals.end());
    // A tenth of a pixel off the line is no outlier, however clean the rest.
    const double limit = std::max(0.1, 3 * 1.4826 * residuals[residuals.size() / 2]);
    const size_t before = kept.size();
    kept.erase(std::remove_if(kept.begin(), kept.end(),
                              [&](const Tick& t) {
                                const double k = t.number - mean_number;
                                return std::abs(t.centre - coefficients[0] - coefficients[1] * k -
                                                coefficients[2] * k * k) > limit;
                              }),
               kept.end());
    if (kept.size() == before) break;
  }
  if (kept.size() < static_cast<size_t>(kRulerMinTicks)) {
    reading.note = "too few regular ticks";
    return reading;
  }
  const double b = coefficients[1];
  const int span = kept.back().number - kept.front().number + 1;
  if (!(b > kMinTickSpacingPx) || scatter > kMaxTickScatter * b ||
      kept.size() < kMinTicksSeen * span) {
    reading.note = "ticks not regular enough";
    return reading;
  }
  // The spacing's change from the first tick used to the last.
  reading.spacing_varies = std::abs(2 * coefficients[2] * (span - 1)) > kRulerSpacingChange * b;

  reading.method = ScaleMethod::ruler;
  reading.px_per_mm = b;
  reading.px_per_mm_se = std::sqrt(b_variance);
  for (const Tick& t : kept) reading.ticks.emplace_back(static_cast<float>(t.centre), 0.0f);
  reading.note = std::to_string(kept.size()) + " ticks";
  return reading;
}

ScaleReading find_ruler_scale(const cv::Mat& grey) {
  CV_Assert(grey.type() == CV_8UC1);
  int factor = 1;
  while (std::max(grey.cols, grey.rows) > kSearchSidePx * factor) factor *= 2;
  cv::Mat small = grey;
  if (factor > 1) {
    cv::resize(grey, small, cv::Size(grey.cols / factor, grey.rows / factor), 0, 0, cv::INTER_AREA);
  }
  ScaleReading best;
  best.note = "no ruler";
  int tried = 0;
  for (Band band : tick_bands(small, factor)) {
    if (++tried > 6) break;
    cv::Point2d start;
    const double margin = 0.05 * band.length_px;
    cv::Mat strip = band_strip(grey, band, margin, &start);
    std::vector<int> rows;
    ScaleReading reading = read_strip(strip, &rows);
    // The band's direction from the reduced copy may be a degree or so off, which lengthens the
    // spacing by 1/cos of it: the ticks' slant across the strip turns the strip onto the ruler.
    for (int turn = 0; turn < 2 && reading.found(); ++turn) {
      const double row_step = band.width_px / strip.rows;
      const double slant = tick_slant(strip, rows, reading.ticks, reading.px_per_mm);
      if (std::abs(slant) < 1e-3 * row_step) break;
      cv::Point2d tick_line = slant * band.along + row_step * band.across;
      tick_line /= cv::norm(tick_line);
      const cv::Point2d centre = band.origin + band.length_px / 2 * band.along;
      band.across = tick_line;
      band.along = cv::Point2d(tick_line.y, -tick_line.x);
      band.origin = centre - band.length_px / 2 * band.along;
      strip = band_strip(grey, band, margin, &start);
      reading = read_strip(strip, &rows);
    }
    if (!reading.found()) continue;
    if (best.found() && best.ticks.size() >= reading.ticks.size()) continue;
    // The tick centres along the profile, placed on the band's middle line.
    const cv::Point2d middle = start + band.width_px / 2 * band.across;
    for (cv::Point2f& tick : reading.ticks) {
      const cv::Point2d p = middle + static_cast<double>(tick.x) * band.along;
      tick = cv::Point2f(static_cast<float>(p.x), static_cast<float>(p.y));
    }
    reading.ruler_direction =
        cv::Point2f(static_cast<float>(band.along.x), static_cast<float>(band.along.y));
    best = std::move(reading);
  }
  return best;
}

}  // namespace meravel
