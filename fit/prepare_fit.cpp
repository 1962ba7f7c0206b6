// Setting up a fit without any window: the session's start, the crop to the region of interest,
// and the working images, outline and target that the fitting windows are built over.
#include "fit/fit_W.h"

void crop_source_to_roi(FitState& state) {
  state.roi_origin_in_photo = state.source_origin_in_photo;
  const cv::Rect region(state.roi_x, state.roi_y, state.roi_width, state.roi_height);
  if (!region_fits(region, state.source_image.size())) {
    state.roi_width = 0;
    state.roi_height = 0;
    return;
  }
  if (region.empty()) return;
  state.crop_buffer.create(region.size(), state.source_image.type());
  state.source_image(region).copyTo(state.crop_buffer);
  state.source_image = state.crop_buffer;
  state.crop_buffer.release();
  state.source_origin_in_photo += region.tl();
}

void set_up_fit(FitState& state) {
  const int w = state.source_image.cols;
  const int h = state.source_image.rows;

  state.width = 6 * w;
  state.height = (3 * h) / 4;
  state.translation_x = w / 2;
  state.translation_y = h / 2;

  state.zoom_region = cv::Rect();
  state.mask_image = cv::Mat::zeros(h, w, CV_8UC1);
  const cv::Size display = display_size(w, h, &state.display_fit_width);
  state.output_display = cv::Mat::zeros(display, CV_8UC3);
  state.distance_display = cv::Mat::zeros(display, CV_32FC1);
  state.binary_display = cv::Mat::zeros(display, CV_8UC1);
  state.overlay_image = cv::Mat::zeros(h, w, CV_8UC3);
  state.left_curve_storage.clear();
  state.right_curve_storage.clear();
  state.outline_storage.clear();

  rebuild_outline(state);
}

void prepare_fit(FitState& state, const cv::Mat& photo, const SessionStart& start) {
  state.source_image = photo;
  state.source_origin_in_photo = cv::Point(0, 0);

  state.deviation_width = 600;
  state.deviation_height = 100;
  state.deviation_image = cv::Mat::zeros(state.deviation_height, state.deviation_width, CV_8UC3);

  state.threshold = start.threshold;
  state.lambda_milli = lambda_milli_of(start.lambda);
  state.cut_off_top = start.cut_offs.top;
  state.cut_off_bottom = start.cut_offs.bottom;
  state.polarity = start.polarity;
  state.rotation = 325;
  state.show_input = 90;
  state.screen_overlays = true;
  state.roi_x = start.region.x;
  state.roi_y = start.region.y;
  state.roi_width = start.region.width;
  state.roi_height = start.region.height;

  crop_source_to_roi(state);
  set_up_fit(state);
}

FitState prepare_fit(const cv::Mat& photo, const SessionStart& start) {
  FitState state;
  prepare_fit(state, photo, start);
  return state;
}
