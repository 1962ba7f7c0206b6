// The computing part of the Output view refresh: model, composed view, energy and status line.
#include <opencv2/imgproc.hpp>

#include "fit/fit_internal.h"

bool compose_output_view(FitState& state, std::ostream& status) {
  const double lambda = state.lambda_milli / 1000.0;
  std::vector<cv::Point> left;
  std::vector<cv::Point> right;
  // A model without points is unscorable: nothing is drawn for it and its energy is +inf.
  generate_w_curve(state, lambda, lambda * state.width, state.height, state.rotation,
                   state.translation_x, state.translation_y, left, right);

  bool views_drawn = false;
  if (!state.source_image.empty()) {
    // The photograph dimmed to show_input per cent on black.
    const double s = state.show_input;
    state.overlay_image.create(state.source_image.size(), state.source_image.type());
    state.overlay_image.setTo(cv::Scalar::all(0));
    cv::addWeighted(state.overlay_image, 1 - s / 100, state.source_image, s / 100, 0,
                    state.overlay_image);

    // Both halves are open: closing them would add a segment the model does not have.
    const cv::Scalar red(0, 0, 255);
    for (const std::vector<cv::Point>* half : {&left, &right}) {
      if (half->empty()) continue;
      const cv::Point* points = half->data();
      const int count = static_cast<int>(half->size());
      cv::polylines(state.overlay_image, &points, &count, 1, false, red, 1, cv::LINE_8, 0);
    }
    if (!state.outline_contour.empty()) {
      const std::vector<std::vector<cv::Point>> outline{state.outline_contour};
      cv::drawContours(state.overlay_image, outline, 0, cv::Scalar(0, 255, 255), 1, cv::LINE_8,
                       cv::noArray(), 0);
    }
  }

  // The halves are drawn above: the energy reuses the curve storages.
  state.energy = deviation_energy(state, left, right, true, &views_drawn);
  status << "energy=" << state.energy;

  if (!state.overlay_image.empty()) {
    cv::Size display = state.output_display.size();
    if (state.output_display.empty()) {
      bool fit_width = false;
      display = display_size(state.overlay_image.cols, state.overlay_image.rows, &fit_width);
    }
    cv::resize(state.overlay_image, state.output_display, display, 0, 0, cv::INTER_LINEAR);
  }

  status << ", lambda=" << state.lambda_milli / 1000.0 << ", "
         << "w=" << (state.lambda_milli / 1000.0) * state.width << " (pixel-w=" << state.pixel_width
         << "), "
         << "h=" << state.height << std::endl;
  return views_drawn;
}
