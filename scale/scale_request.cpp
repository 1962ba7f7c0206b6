#include "scale/scale_request.h"

#include <charconv>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace meravel {

namespace {

std::optional<double> positive_number(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char ch : text) {
    if (!(std::isdigit(static_cast<unsigned char>(ch)) || ch == '.')) return std::nullopt;
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!(value > 0) || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<ScaleRequest> parse_scale_request(std::string_view text) {
  ScaleRequest request;
  const size_t colon = text.find(':');
  const std::string_view word = text.substr(0, colon);
  const std::optional<std::string_view> size =
      colon == std::string_view::npos ? std::nullopt
                                      : std::optional<std::string_view>(text.substr(colon + 1));
  if (word == "auto" || word == "ruler" || word == "marker" || word == "disc") {
    request.kind = word == "auto"     ? ScaleRequest::Kind::automatic
                   : word == "ruler"  ? ScaleRequest::Kind::ruler
                   : word == "marker" ? ScaleRequest::Kind::marker
                                      : ScaleRequest::Kind::disc;
    const bool needs_size =
        request.kind == ScaleRequest::Kind::marker || request.kind == ScaleRequest::Kind::disc;
    const bool takes_size = needs_size || request.kind == ScaleRequest::Kind::automatic;
    if (size) {
      if (!takes_size) return std::nullopt;
      const std::optional<double> mm = positive_number(*size);
      if (!mm) return std::nullopt;
      request.size_mm = *mm;
    } else if (needs_size) {
      return std::nullopt;
    }
    return request;
  }
  if (size) return std::nullopt;
  const std::optional<double> given = positive_number(text);
  if (!given) return std::nullopt;
  request.kind = ScaleRequest::Kind::given;
  request.px_per_mm = *given;
  return request;
}

ScaleReading read_scale(const cv::Mat& grey, const ScaleRequest& request) {
  switch (request.kind) {
    case ScaleRequest::Kind::none:
      return {};
    case ScaleRequest::Kind::given: {
      ScaleReading reading;
      reading.method = ScaleMethod::given;
      reading.px_per_mm = request.px_per_mm;
      reading.note = "given";
      return reading;
    }
    case ScaleRequest::Kind::ruler:
      return find_ruler_scale(grey);
    case ScaleRequest::Kind::marker:
      return find_marker_scale(grey, request.size_mm);
    case ScaleRequest::Kind::disc:
      return find_disc_scale(grey, request.size_mm);
    case ScaleRequest::Kind::automatic:
      break;
  }
  if (request.size_mm > 0) {
    ScaleReading marker = find_marker_scale(grey, request.size_mm);
    if (marker.found()) return marker;
    ScaleReading ruler = find_ruler_scale(grey);
    if (!ruler.found()) ruler.note = "no marker and no ruler";
    return ruler;
  }
  ScaleReading ruler = find_ruler_scale(grey);
  if (!ruler.found() && marker_seen(grey)) {
    ruler.note = "a marker is seen but its size is not known (--scale marker:SIZE_MM)";
  }
  return ruler;
}

std::string scale_not_found_line(const ScaleReading& reading) {
  return "no scale found (" + reading.note + "): the values stay in pixels";
}

ScaleReading read_scale_of_photograph(const cv::Mat& photo, const ScaleRequest& request) {
  if (request.kind == ScaleRequest::Kind::none) return {};
  cv::Mat grey;
  if (request.kind != ScaleRequest::Kind::given) cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
  return read_scale(grey, request);
}

}  // namespace meravel
