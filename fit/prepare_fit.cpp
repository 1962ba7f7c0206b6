// Setting up a fit without any window: the session's start, the crop to the region of interest,
// and the working images, outline and target that the fitting windows are built over.
#include <opencv2/imgproc.hpp>
#include <utility>

#include "fit/click_geometry.h"
#include "fit/fit_internal.h"
#include "fit/fit_warnings.h"
#include "fit/parameter_table.h"

namespace meravel {

namespace {

// set_up_fit's start values and working images, before the outline.
void set_up_working_images(FitState& state) {
  const int w = state.source_image.cols;
  const int h = state.source_image.rows;

  state.model.width = 6 * w;
  state.model.height = (3 * h) / 4;
  state.model.translation_x = w / 2;
  state.model.translation_y = h / 2;

  state.zoom_region = cv::Rect();
  state.compose_view_rows_first = false;
  // The distance map's work image is cleared where it is drawn, and the overlay is composed over
  // every pixel (a new buffer, so the composition starts afresh): neither needs zeros here.
  state.mask_image.create(h, w, CV_8UC1);
  const cv::Size display = display_size(w, h, &state.display_fit_width);
  state.output_display = cv::Mat::zeros(display, CV_8UC3);
  state.distance_display = cv::Mat::zeros(display, CV_32FC1);
  state.binary_display = cv::Mat::zeros(display, CV_8UC1);
  state.overlay_image = cv::Mat(h, w, CV_8UC3);
  state.work.left_curve_storage.clear();
  state.work.right_curve_storage.clear();
  state.outline_storage.clear();
}

// prepare_fit up to the crop.
void take_start(FitState& state, const cv::Mat& photo, const SessionStart& start) {
  finish_outline_distance(state);
  state.source_image = photo;
  state.source_origin_in_photo = cv::Point(0, 0);

  state.deviation_width = 600;
  state.deviation_height = 100;
  state.deviation_image = cv::Mat::zeros(state.deviation_height, state.deviation_width, CV_8UC3);

  state.threshold = start.threshold;
  state.model.lambda_milli = lambda_milli_of(start.lambda);
  state.cut_off_top = start.cut_offs.top;
  state.cut_off_bottom = start.cut_offs.bottom;
  state.polarity = start.polarity;
  state.model.rotation = kStartRotation;
  state.show_input = kStartShowInput;
  state.screen_overlays = true;
  state.roi_in_source = start.region;

  crop_source_to_roi(state);
}

}  // namespace

void crop_source_to_roi(FitState& state) {
  finish_outline_distance(state);
  state.roi_origin_in_photo = state.source_origin_in_photo;
  const cv::Rect region = state.roi_in_source;
  if (!region_fits(region, state.source_image.size())) {
    state.roi_in_source.width = 0;
    state.roi_in_source.height = 0;
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
  set_up_working_images(state);
  rebuild_outline(state);
}

void prepare_fit(FitState& state, const cv::Mat& photo, const SessionStart& start) {
  take_start(state, photo, start);
  set_up_fit(state);
}

void prepare_fit(FitState& state, const cv::Mat& photo, const SessionStart& start,
                 const std::function<void(FitState&)>& find_outline_step) {
  take_start(state, photo, start);
  set_up_working_images(state);
  find_outline_step(state);
  compute_outline_distance(state);
}

FitState prepare_fit(const cv::Mat& photo, const SessionStart& start) {
  FitState state;
  prepare_fit(state, photo, start);
  return state;
}

void prepare_fit_overlapped(FitState& state, const cv::Mat& photo, const SessionStart& start) {
  take_start(state, photo, start);
  set_up_working_images(state);
  state.compose_view_rows_first = true;
  find_state_outline(state);
  state.distance_view.release();
  const cv::Size size = state.source_image.size();
  if (state.target.outline_contour.empty() || size.empty()) {
    rebuild_fit_target(state.target, state.target.outline_contour, size, state.mask_image);
    return;
  }
  state.target.image_size = size;
  state.target.cut.clear();
  // The thread works on its own copy of the outline and on the state's two buffers, which leave
  // the state until finish_outline_distance brings them back. They are allocated here, so that
  // the thread reuses memory the main thread has freed (another thread allocates from a heap of
  // its own) and only writes them.
  state.mask_image.create(size, CV_8UC1);
  state.target.distance_image.create(size, CV_32FC1);
  state.distance_in_progress =
      std::async(std::launch::async, [outline = state.target.outline_contour, size,
                                      mask = std::move(state.mask_image),
                                      distance = std::move(state.target.distance_image)]() mutable {
        FitTarget target;
        target.distance_image = std::move(distance);
        rebuild_fit_target(target, std::move(outline), size, mask);
        return std::make_pair(std::move(target.distance_image), std::move(mask));
      }).share();
  state.target.distance_image.release();
  state.mask_image.release();
}

void finish_outline_distance(FitState& state) {
  if (!state.distance_in_progress.valid()) return;
  const std::shared_future<std::pair<cv::Mat, cv::Mat>> made =
      std::move(state.distance_in_progress);
  state.distance_in_progress = {};
  const std::pair<cv::Mat, cv::Mat>& maps = made.get();
  state.target.distance_image = maps.first;
  state.mask_image = maps.second;
  state.distance_view.release();
}

SessionResult accepted_result(const FitState& state) {
  SessionResult result;
  result.end = SessionEnd::kAccepted;
  result.threshold = state.threshold;
  result.lambda = state.model.lambda_milli / 1000.0;
  result.energy = state.energy;
  result.region = region_in_photo(state.roi_in_source, state.roi_origin_in_photo);
  result.cut_offs = state.cut_offs();
  result.polarity = state.polarity;
  result.model = state.model;
  result.model_origin_in_photo = state.source_origin_in_photo;
  result.warnings =
      fit_warnings(state.target, state.model, state.cut_offs(), state.energy, kStartRotation);
  return result;
}

}  // namespace meravel
