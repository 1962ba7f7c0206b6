// Waiting for two clicks on a view: keys m and s (the model's top and bottom, the corners of the
// region of interest), z (the corners of the part to show) and k (the ends of a known length).
//
// Computing core: a plain value, no window. The point is kept in whatever frame the caller
// clicks in.
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <utility>

namespace meravel {

class TwoClicks {
 public:
  // Waits for a first click (forgetting any first click kept).
  void arm() { waiting_ = Waiting::kFirst; }
  // Waits for nothing: clicks are ignored.
  void disarm() { waiting_ = Waiting::kNothing; }

  bool awaiting_first() const { return waiting_ == Waiting::kFirst; }
  // The first click is kept and the second awaited.
  bool awaiting_second() const { return waiting_ == Waiting::kSecond; }
  // Either click is awaited.
  bool armed() const { return waiting_ != Waiting::kNothing; }

  // A click at `p`: the first is kept (and nothing returned), the second returns both and
  // disarms; a click while disarmed is ignored.
  std::optional<std::pair<cv::Point, cv::Point>> click(cv::Point p) {
    switch (waiting_) {
      case Waiting::kFirst:
        first_ = p;
        waiting_ = Waiting::kSecond;
        return std::nullopt;
      case Waiting::kSecond:
        waiting_ = Waiting::kNothing;
        return std::make_pair(first_, p);
      default:
        return std::nullopt;
    }
  }

  // The first click kept (the last one, once both came); (0, 0) before any.
  cv::Point first() const { return first_; }

 private:
  enum class Waiting { kNothing, kFirst, kSecond };
  Waiting waiting_ = Waiting::kNothing;
  cv::Point first_;
};

}  // namespace meravel
