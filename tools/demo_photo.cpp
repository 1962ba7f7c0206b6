#include "tools/demo_photo.h"

#include <libexif/exif-data.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "fit/geometry.h"

namespace meravel {

namespace {

constexpr double kMaxGapPx = 0.25;

// One sample of the model's formula, in doubles: offset x from the axis and depth y below the top
// point, mirrored to the left half when `left`, rotated and moved to the centre.
struct CurveSampler {
  const DemoObject& object;
  double cos_theta;
  double sin_theta;

  cv::Point2d at(double t, bool left) const {
    const double h = object.height;
    const double scale = object.lambda * object.width;
    const double d = (h / 2) * std::exp(t) + std::exp(-object.lambda * t);
    const double x = (left ? -scale : scale) / d;
    const double y = (h * h / 2) * std::exp(t) / d;
    return place(x, y - h / 2);
  }

  cv::Point2d place(double x, double yc) const {
    return {object.center_x + x * cos_theta - yc * sin_theta,
            object.center_y + x * sin_theta + yc * cos_theta};
  }
};

double gap(const cv::Point2d& a, const cv::Point2d& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// Appends the samples of (t0, t1], bisecting until neighbours are close enough.
void append_half_interval(const CurveSampler& sampler, bool left, double t0, cv::Point2d p0,
                          double t1, cv::Point2d p1, int depth, std::vector<cv::Point2d>& out) {
  if (depth < 30 && gap(p0, p1) > kMaxGapPx) {
    const double tm = (t0 + t1) / 2;
    const cv::Point2d pm = sampler.at(tm, left);
    append_half_interval(sampler, left, t0, p0, tm, pm, depth + 1, out);
    append_half_interval(sampler, left, tm, pm, t1, p1, depth + 1, out);
    return;
  }
  out.push_back(p1);
}

// One half from the top point to the bottom point.
std::vector<cv::Point2d> half_outline(const CurveSampler& sampler, bool left) {
  const DemoObject& o = sampler.object;
  const double scale = std::max(1.0, o.lambda * o.width);
  // Far enough out that the offset is below a thousandth of a pixel at both ends.
  const double t_first = -std::max(20.0, (std::log(scale) + 7.0) / o.lambda);
  const double t_last = std::max(20.0, std::log(2 * scale / std::max(1.0, o.height)) + 7.0);
  const double step = 0.01;

  std::vector<cv::Point2d> half;
  half.push_back(sampler.place(0, -o.height / 2));
  double t = t_first;
  cv::Point2d p = sampler.at(t, left);
  append_half_interval(sampler, left, t - step, half.back(), t, p, 0, half);
  while (t < t_last) {
    const double next_t = t + step;
    const cv::Point2d next_p = sampler.at(next_t, left);
    append_half_interval(sampler, left, t, p, next_t, next_p, 0, half);
    t = next_t;
    p = next_p;
  }
  const cv::Point2d bottom = sampler.place(0, o.height / 2);
  if (gap(half.back(), bottom) > 0) half.push_back(bottom);
  return half;
}

// Coverage of each pixel by the region the polygons enclose (even-odd rule: a polygon inside
// another is a hole), 0..65535 for 0..1: the exact horizontal overlap of the region with the
// pixel, averaged over kSubRows scan lines through it. Pixel (i, j) is the square of side 1
// centred on (i, j), so the area of the coverage is the area of the region and the edge has no
// bias (drawing functions fill every pixel whose centre lies on the boundary, which makes an
// object half a pixel too large all round).
cv::Mat region_coverage(cv::Size size_px, const std::vector<std::vector<cv::Point2d>>& polygons) {
  constexpr int kSubRows = 16;
  cv::Mat coverage(size_px, CV_16UC1, cv::Scalar(0));
  if (size_px.area() == 0) return coverage;

  // Scan line s lies at y = (s + 0.5) / kSubRows - 0.5; each one holds its edge crossings.
  const int sub_rows = size_px.height * kSubRows;
  std::vector<std::vector<double>> crossings(sub_rows);
  for (const std::vector<cv::Point2d>& outline : polygons) {
    if (outline.size() < 3) continue;
    for (size_t i = 0; i < outline.size(); ++i) {
      const cv::Point2d& a = outline[i];
      const cv::Point2d& b = outline[(i + 1) % outline.size()];
      if (a.y == b.y) continue;
      const double low = std::min(a.y, b.y), high = std::max(a.y, b.y);
      // Half-open in y, so a vertex shared by two edges is crossed once.
      const double first = std::ceil((low + 0.5) * kSubRows - 0.5);
      const double last = std::ceil((high + 0.5) * kSubRows - 0.5) - 1;
      for (double s = std::max(first, 0.0); s <= std::min(last, sub_rows - 1.0); ++s) {
        const double y = (s + 0.5) / kSubRows - 0.5;
        crossings[static_cast<size_t>(s)].push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
      }
    }
  }

  const int w = size_px.width;
  const double weight = 1.0 / kSubRows;
  std::vector<double> full(w + 1), partial(w);
  for (int row = 0; row < size_px.height; ++row) {
    std::fill(full.begin(), full.end(), 0.0);
    std::fill(partial.begin(), partial.end(), 0.0);
    bool any = false;
    for (int s = row * kSubRows; s < (row + 1) * kSubRows; ++s) {
      std::vector<double>& xs = crossings[s];
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2) {  // even-odd rule
        const double from = std::max(xs[k], -0.5), to = std::min(xs[k + 1], w - 0.5);
        if (to <= from) continue;
        any = true;
        const int first = std::min(w - 1, static_cast<int>(std::floor(from + 0.5)));
        const int last = std::min(w - 1, static_cast<int>(std::floor(to + 0.5)));
        if (first == last) {
          partial[first] += (to - from) * weight;
          continue;
        }
        partial[first] += (first + 0.5 - from) * weight;
        partial[last] += (to - (last - 0.5)) * weight;
        full[first + 1] += weight;  // pixels strictly between are covered along the whole line
        full[last] -= weight;
      }
      xs.clear();
      xs.shrink_to_fit();
    }
    if (!any) continue;
    uint16_t* out = coverage.ptr<uint16_t>(row);
    double running = 0;
    for (int x = 0; x < w; ++x) {
      running += full[x];
      out[x] =
          static_cast<uint16_t>(std::lround(std::clamp(running + partial[x], 0.0, 1.0) * 65535));
    }
  }
  return coverage;
}

constexpr double kBarWidthMm = 4.0;
constexpr double kLabelGapMm = 1.0;
constexpr double kLabelHeightMm = 3.0;
constexpr int kLabelFont = cv::FONT_HERSHEY_SIMPLEX;

std::vector<cv::Point2d> rectangle(double x0, double y0, double x1, double y1) {
  return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

// The label below the bar: its text, size and where its baseline starts.
struct BarLabel {
  std::string text;
  double font_scale;
  int thickness;
  cv::Point origin;
  cv::Size size;
};

BarLabel bar_label(const DemoScaleBar& bar) {
  BarLabel label;
  char text[32];
  std::snprintf(text, sizeof text, "%g mm", bar.length_mm);
  label.text = text;
  label.thickness = std::max(1, static_cast<int>(std::lround(0.35 * bar.px_per_mm)));
  int baseline = 0;
  const cv::Size unit = cv::getTextSize(label.text, kLabelFont, 1.0, label.thickness, &baseline);
  label.font_scale = kLabelHeightMm * bar.px_per_mm / std::max(1, unit.height);
  label.size =
      cv::getTextSize(label.text, kLabelFont, label.font_scale, label.thickness, &baseline);
  label.origin = cv::Point(
      static_cast<int>(std::lround(bar.left_px)),
      static_cast<int>(std::lround(bar.top_px + (kBarWidthMm + kLabelGapMm) * bar.px_per_mm)) +
          label.size.height);
  return label;
}

bool has_bar(const DemoScaleBar& bar) { return bar.length_mm > 0 && bar.px_per_mm > 0; }

// The strip with its ticks as holes, and the label, laid over the photograph at bar.level.
void draw_scale_bar(cv::Mat& photo, const DemoScaleBar& bar) {
  const double ppm = bar.px_per_mm;
  const double left = bar.left_px, top = bar.top_px;
  const double width = kBarWidthMm * ppm;
  std::vector<std::vector<cv::Point2d>> polygons = {
      rectangle(left, top, left + bar.length_mm * ppm, top + width)};
  const double tick_width = std::max(2.0, 0.2 * ppm);
  const double margin = 0.18 * width;
  for (int mm = 1; mm < bar.length_mm; ++mm) {
    const double extent = (mm % 10 == 0 ? 0.64 : mm % 5 == 0 ? 0.46 : 0.3) * width;
    const double x = left + mm * ppm;
    polygons.push_back(
        rectangle(x - tick_width / 2, top + margin, x + tick_width / 2, top + margin + extent));
  }
  const cv::Mat coverage = region_coverage(photo.size(), polygons);
  const BarLabel label = bar_label(bar);
  cv::Mat label_coverage(photo.size(), CV_8UC1, cv::Scalar(0));
  cv::putText(label_coverage, label.text, label.origin, kLabelFont, label.font_scale,
              cv::Scalar(255), label.thickness, cv::LINE_AA);
  const cv::Vec3f strip = cv::Vec3f::all(static_cast<float>(bar.level));
  for (int y = 0; y < photo.rows; ++y) {
    const uint16_t* coverage_row = coverage.ptr<uint16_t>(y);
    const uchar* label_row = label_coverage.ptr<uchar>(y);
    cv::Vec3b* row = photo.ptr<cv::Vec3b>(y);
    for (int x = 0; x < photo.cols; ++x) {
      const float alpha = std::max(coverage_row[x] / 65535.0f, label_row[x] / 255.0f);
      if (alpha == 0) continue;
      row[x] = cv::Vec3f(row[x]) * (1 - alpha) + strip * alpha;
    }
  }
}

}  // namespace

std::pair<cv::Point2d, cv::Point2d> demo_scale_bar_ends(const DemoScaleBar& bar) {
  const double y = bar.top_px + kBarWidthMm * bar.px_per_mm / 2;
  return {{bar.left_px, y}, {bar.left_px + bar.length_mm * bar.px_per_mm, y}};
}

cv::Rect2d demo_scale_bar_box(const DemoScaleBar& bar) {
  if (!has_bar(bar)) return {};
  const BarLabel label = bar_label(bar);
  const double right = std::max(bar.left_px + bar.length_mm * bar.px_per_mm,
                                static_cast<double>(label.origin.x + label.size.width));
  // The label's strokes reach below the baseline by about their thickness.
  const double bottom = label.origin.y + label.thickness;
  return {bar.left_px, bar.top_px, right - bar.left_px, bottom - bar.top_px};
}

DemoLook dark_object_look() {
  DemoLook look;
  look.background_level = 215.0;
  look.object_level = 65.0;
  return look;
}

DemoLook fit_test_look(bool noisy, unsigned seed) {
  DemoLook look;
  look.background_level = 60.0;
  look.object_level = 200.0;
  look.noise_sigma = noisy ? 6.0 : 0.0;
  look.blur_sigma = noisy ? 1.0 : 0.0;
  look.noise_seed = seed;
  return look;
}

std::vector<cv::Point2d> demo_object_outline(const DemoObject& object) {
  const double theta = radians_from_degrees(object.rotation_deg);
  const CurveSampler sampler{object, std::cos(theta), std::sin(theta)};
  std::vector<cv::Point2d> outline = half_outline(sampler, false);
  std::vector<cv::Point2d> left = half_outline(sampler, true);
  // The left half runs back up; its end points are the right half's.
  outline.insert(outline.end(), left.rbegin() + 1, left.rend() - 1);
  return outline;
}

cv::Mat render_demo_photo(cv::Size size_px, const DemoObject& object, const DemoLook& look,
                          const DemoScaleBar& scale_bar) {
  const cv::Mat coverage = region_coverage(size_px, {demo_object_outline(object)});

  // Shading runs along fixed directions; its extent is the object's (or the image's) size.
  const double grad_angle = radians_from_degrees(look.gradient_angle_deg);
  const double gx = std::cos(grad_angle), gy = std::sin(grad_angle);
  const double grad_extent = std::abs(gx) * size_px.width + std::abs(gy) * size_px.height;
  const double grad_origin = std::min(0.0, gx * size_px.width) + std::min(0.0, gy * size_px.height);
  const double object_extent = std::max(1.0, std::max(object.height, 2 * object.width));

  // Slight colour casts, (blue, green, red): a bluish background and a warm object.
  const cv::Vec3f background_cast(6, 0, -4), object_cast(-10, 0, 12);

  // Both shadings are linear in x along a row: start values and steps per row.
  const double background_step = grad_extent > 0 ? look.background_gradient * gx / grad_extent : 0;
  const double shade_step = 1.0 / object_extent;
  // Composed straight into 8 bits (rounded), which keeps a 6000 x 4000 photograph at 72 MB.
  cv::Mat photo(size_px, CV_8UC3);
  for (int y = 0; y < size_px.height; ++y) {
    const uint16_t* coverage_row = coverage.ptr<uint16_t>(y);
    cv::Vec3b* row = photo.ptr<cv::Vec3b>(y);
    const double along_0 = grad_extent > 0 ? (gy * y - grad_origin) / grad_extent : 0.5;
    const double background_0 = look.background_level + look.background_gradient * (along_0 - 0.5);
    const double across_0 = (-object.center_x + (y - object.center_y)) / object_extent;
    for (int x = 0; x < size_px.width; ++x) {
      const cv::Vec3f bg =
          cv::Vec3f::all(static_cast<float>(background_0 + background_step * x)) + background_cast;
      const float alpha = coverage_row[x] / 65535.0f;
      if (alpha == 0) {
        row[x] = bg;
        continue;
      }
      const double across = std::clamp(across_0 + shade_step * x, -0.5, 0.5);
      const cv::Vec3f fg =
          cv::Vec3f::all(static_cast<float>(look.object_level - look.object_shading * across)) +
          object_cast;
      row[x] = bg * (1 - alpha) + fg * alpha;  // Vec3b's conversion rounds and saturates
    }
  }
  if (has_bar(scale_bar)) draw_scale_bar(photo, scale_bar);
  if (look.blur_sigma > 0) cv::GaussianBlur(photo, photo, cv::Size(), look.blur_sigma);
  if (look.noise_sigma > 0) {
    // Row by row, so the noise never needs a second full-size image.
    cv::RNG rng(look.noise_seed);
    cv::Mat noise(1, size_px.width, CV_32FC3);
    cv::Mat noisy_row;
    for (int y = 0; y < size_px.height; ++y) {
      rng.fill(noise, cv::RNG::NORMAL, 0.0, look.noise_sigma);
      cv::Mat row = photo.row(y);
      row.convertTo(noisy_row, CV_32FC3);
      noisy_row += noise;
      noisy_row.convertTo(row, CV_8UC3);  // rounds and saturates
    }
  }
  return photo;
}

namespace {

void add_ascii_entry(ExifData* data, ExifIfd ifd, ExifTag tag, const std::string& text) {
  ExifMem* mem = exif_mem_new_default();
  ExifEntry* entry = exif_entry_new_mem(mem);
  const unsigned size = static_cast<unsigned>(text.size() + 1);
  entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, size));
  if (entry->data) {
    std::memcpy(entry->data, text.c_str(), size);
    entry->tag = tag;
    entry->format = EXIF_FORMAT_ASCII;
    entry->components = size;
    entry->size = size;
    exif_content_add_entry(data->ifd[ifd], entry);
  }
  exif_entry_unref(entry);
  exif_mem_unref(mem);
}

// An entry with libexif's default value for `tag` (72 dpi, inches, centred chroma samples).
void add_default_entry(ExifData* data, ExifIfd ifd, ExifTag tag) {
  ExifEntry* entry = exif_entry_new();
  exif_content_add_entry(data->ifd[ifd], entry);  // initialising needs the byte order of `data`
  exif_entry_initialize(entry, tag);
  exif_entry_unref(entry);
}

// The APP1 payload: "Exif\0\0" and the TIFF structure, as libexif saves it.
std::vector<unsigned char> exif_block(const DemoExif& exif) {
  ExifData* data = exif_data_new();
  exif_data_set_byte_order(data, EXIF_BYTE_ORDER_INTEL);
  exif_data_set_data_type(data, EXIF_DATA_TYPE_COMPRESSED);
  add_ascii_entry(data, EXIF_IFD_0, EXIF_TAG_MAKE, "Meravel demo");
  for (ExifTag tag : {EXIF_TAG_X_RESOLUTION, EXIF_TAG_Y_RESOLUTION, EXIF_TAG_RESOLUTION_UNIT,
                      EXIF_TAG_YCBCR_POSITIONING}) {
    add_default_entry(data, EXIF_IFD_0, tag);
  }
  if (exif.date_time) add_ascii_entry(data, EXIF_IFD_0, EXIF_TAG_DATE_TIME, *exif.date_time);
  if (exif.date_time_original) {
    add_ascii_entry(data, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL, *exif.date_time_original);
  }
  unsigned char* bytes = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data, &bytes, &size);
  std::vector<unsigned char> block(bytes, bytes + (bytes ? size : 0));
  std::free(bytes);
  exif_data_unref(data);
  return block;
}

}  // namespace

bool write_demo_jpeg(const std::string& path, const cv::Mat& bgr, int quality,
                     const DemoExif& exif) {
  std::vector<unsigned char> jpeg;
  if (bgr.empty() ||
      !cv::imencode(".jpg", bgr, jpeg, {cv::IMWRITE_JPEG_QUALITY, std::clamp(quality, 0, 100)}) ||
      jpeg.size() < 2) {
    return false;
  }
  if (exif.present) {
    const std::vector<unsigned char> block = exif_block(exif);
    const size_t segment_length = block.size() + 2;  // the length field counts itself
    if (block.empty() || segment_length > 0xFFFF) return false;
    std::vector<unsigned char> segment = {0xFF, 0xE1,
                                          static_cast<unsigned char>(segment_length >> 8),
                                          static_cast<unsigned char>(segment_length & 0xFF)};
    segment.insert(segment.end(), block.begin(), block.end());
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());  // after SOI
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace meravel
