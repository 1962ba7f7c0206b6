// The fitting engine: its one state record and the computing core's operations on it.
//
// Everything declared here links opencv_core and opencv_imgproc only. Nothing here opens, shows
// or waits on a window: where the core produces a picture (the binary image, the distance map,
// the Deviation plot, the Output view) it leaves it in a FitState image and the window layer
// (windows/) shows it.
//
// The parts of the state are value types of their own (model.h, fit_target.h): the six model
// values, the target of the fit, the work buffers of an evaluation and the deviation profile.
// The core's operations take exactly those parts; the operations declared here are the session's
// steps over the whole record, each saying which fields it reads and writes.
#pragma once

#include <future>
#include <opencv2/core.hpp>
#include <ostream>
#include <utility>
#include <vector>

#include "fit/click_geometry.h"
#include "fit/fit_target.h"
#include "fit/model.h"
#include "fit/session_contract.h"
#include "fit/two_clicks.h"

namespace meravel {

// The fitting engine's state: a value; the window layer's MeasuringWindow holds one, the batch and
// tests make their own, and two can fit two objects side by side. Every field is zero, false or
// empty at start. W x H is the size of `source_image` when the fit was last set up. Images are
// released (reset to an empty cv::Mat) and created anew; the point containers stand in for the old
// memory storages and are owned here.
//
// The record holds its parts as members, each handed on to the core's operations as it is.
struct FitState {
  ModelParameters model;     // the six trackbar-backed model values
  FitTarget target;          // outline_contour, distance_image (the one distance map), image_size
  EvaluationBuffers work;    // the curve storages and the trace buffers
  DeviationProfile profile;  // left_samples, right_samples, deviation_max of the last drawn energy

  int show_input = 0;      // weight of the photograph in the Output view, per cent, 0..100
  int threshold = 0;       // binarisation threshold, 0..250
  int cut_off_top = 0;     // per cent of the height left out at the top, 0..49
  int cut_off_bottom = 0;  // per cent left out at the bottom, 0..49
  ObjectPolarity polarity = ObjectPolarity::kLightOnDark;  // the binarisation's (key n)

  double energy = 0.0;  // deviation energy of the parameters last shown; +inf when unscorable

  // Bounding box of the largest outline: extreme-coordinate differences and the box centre.
  int outline_width = 0;
  int outline_height = 0;
  int outline_center_x = 0;
  int outline_center_y = 0;

  int pixel_width = 0;         // width in pixels of the last generated W-curve
  double peak_abscissa = 0.0;  // curve parameter t at which that curve was widest

  // The two clicks keys m, s and z wait for on "Output", in pixels of source_image.
  TwoClicks clicks;

  // The region of interest in pixels of the image it cuts (source_image when it was chosen); a
  // width or height of 0 means none.
  cv::Rect roi_in_source;
  // Where, in pixels of the whole photograph, source_image begins (moved by every crop, reset by a
  // reload), and where the image begins in whose pixels roi_in_source counts: the region handed
  // back is roi_in_source moved by roi_origin_in_photo, so a nested crop comes back in pixels of
  // the photograph.
  cv::Point source_origin_in_photo;
  cv::Point roi_origin_in_photo;

  bool display_fit_width = false;  // the views are 800 wide (true) or 600 high (false)
  // The Output view is drawn for the screen (a session's): the axis and the top mark, and on a
  // view smaller than the photograph the model and the outline drawn again at the view's scale.
  bool screen_overlays = false;
  // The part of source_image the Output view shows (key z), at up to full resolution; empty for
  // the whole image. Set-up shows the whole image again.
  cv::Rect zoom_region;
  bool show_distance = false;  // "Distance Transformation" wanted
  bool show_binary = false;    // "Binary Image" wanted

  cv::Mat overlay_image;     // W x H, CV_8UC3: the Output view is composed here
  cv::Mat source_image;      // CV_8UC3: the photograph, cropped to the region of interest
  cv::Mat output_display;    // display size, CV_8UC3: what "Output" shows
  cv::Mat crop_buffer;       // empty except inside the crop step
  cv::Mat deviation_image;   // deviation_width x deviation_height, CV_8UC3: what "Deviation" shows
  int deviation_width = 0;   // 600 from the session's start
  int deviation_height = 0;  // 100 from the session's start
  cv::Mat mask_image;        // W x H, CV_8UC1: work image of the distance map
  cv::Mat distance_display;  // display size, CV_32FC1: what "Distance Transformation" shows
  cv::Mat binary_display;    // display size, CV_8UC1: what "Binary Image" shows

  // Every contour of the last binarisation (the old outline storage).
  std::vector<std::vector<cv::Point>> outline_storage;

  // ---- Caches of the views (no model state) ----

  // The distance map scaled by 0.01 and resized to the display size, made once per map and copied
  // into distance_display whenever the view is wanted; released whenever the map is rebuilt.
  cv::Mat distance_view;
  // What overlay_image was last composed from: the photograph and overlay buffers (held, so that
  // a buffer made anew is never taken for them), the "Show input" level, the outline, and the
  // boxes of the two halves drawn, clipped to the image.
  cv::Mat composed_source;
  cv::Mat composed_overlay;
  int composed_show_input = -1;
  std::vector<cv::Point> composed_outline;
  cv::Rect composed_halves_boxes[2];
  // Set by the overlapped set-up: its first composition dims only the rows of the photograph that
  // the resize to the view reads, so that the first view shows sooner (and clears it).
  // overlay_rows_pending marks the rows left (empty when none), pending_halves the halves drawn
  // then; complete_overlay dims those rows and draws the halves and the outline again.
  bool compose_view_rows_first = false;
  std::vector<unsigned char> overlay_rows_pending;
  std::vector<cv::Point> pending_halves[2];

  // The distance map of outline_contour and its work image while a second thread makes them
  // (prepare_fit_overlapped); not valid otherwise. finish_outline_distance takes them in.
  std::shared_future<std::pair<cv::Mat, cv::Mat>> distance_in_progress;

  CutOffs cut_offs() const { return {cut_off_top, cut_off_bottom}; }
  OutlineBox outline_box() const {
    return {outline_width, outline_height, outline_center_x, outline_center_y};
  }
  // Keeps what a generation tells: pixel_width when it produced points, peak_abscissa when some
  // offset exceeded 0.
  void keep_extent(const WCurveExtent& extent);
};

// Display size of the views for a W x H image, in integer arithmetic: 800 wide, or 600 high when
// the image is taller than 4:3. Each dimension is at least 1. Sets *fit_width accordingly.
cv::Size display_size(int image_width, int image_height, bool* fit_width);

// ---- Setting up a fit (prepare_fit.cpp) ----

// Everything the session's start and the fitting windows' set-up compute, with no window: the
// photograph (shared, not copied) as source_image, the Deviation image 600 x 100, threshold,
// lambda_milli (lambda rounded to thousandths), cut-offs and region from `start`, rotation 325
// and show input 90, the crop to the region (crop_source_to_roi) and set_up_fit. The other
// fields keep their values (the switches of keys b and d; a box when no outline is found).
void prepare_fit(FitState& state, const cv::Mat& photo, const SessionStart& start);
// The same on a fresh state.
FitState prepare_fit(const cv::Mat& photo, const SessionStart& start);
// prepare_fit with the outline found by `find_outline_step` instead of the threshold's largest
// one: it is called on the state once the source is cropped and the working images made, and sets
// outline_contour (and may set threshold, polarity and the outline box); the distance map follows.
void prepare_fit(FitState& state, const cv::Mat& photo, const SessionStart& start,
                 const std::function<void(FitState&)>& find_outline_step);

// The computing part of the fitting windows' set-up for the current, already cropped, non-empty
// source_image (W x H): width 6W, height 3H/4, translation (W/2, H/2); the working images made
// anew (the views at the display size, display_fit_width set); the curve storages emptied; the
// outline, its box and its target (rebuild_outline). Lambda, rotation, show input, threshold and
// cut-offs keep their values.
void set_up_fit(FitState& state);

// prepare_fit with the outline's distance map made on a second thread: returns once the working
// images, the outline and its box are made, with outline_contour and image_size set and
// distance_image empty, while the map is still being made. The map, bit for bit the one
// prepare_fit makes, comes into the state with finish_outline_distance, which the state's steps
// below that read or replace the map (deviation_energy, evaluate_parameters, rebuild_outline,
// compute_outline_distance) and prepare_fit and crop_source_to_roi call first. The core's
// functions that take a FitTarget do not wait: call finish_outline_distance before handing them
// state.target. Sets compose_view_rows_first: the first composition leaves rows the view does
// not read for complete_overlay.
void prepare_fit_overlapped(FitState& state, const cv::Mat& photo, const SessionStart& start);

// What an accepted fit hands back (end kAccepted): the state's threshold, lambda, energy, region
// in pixels of the whole photograph, cut-offs, polarity, model and its origin, and the fit's
// warnings against the start rotation. photo_size and keys are the caller's to set.
SessionResult accepted_result(const FitState& state);

// Waits for the distance map being made for the state, if any, and takes it in as distance_image
// (with its work image as mask_image). Rethrows what making it threw.
void finish_outline_distance(FitState& state);

// Replaces source_image by the region roi_in_source in pixels of that image and moves
// source_origin_in_photo by the region's corner; roi_origin_in_photo becomes the image's origin
// before the cut. A region that does not fit (or has a negative value) is dropped: width and height
// become 0. A width or height of 0 cuts nothing.
void crop_source_to_roi(FitState& state);

// ---- The session's steps over the record ----

// Binarises source_image at `threshold` for the state's polarity (show_binary: also into
// binary_display) and makes the largest outline the target: outline_storage receives every contour,
// outline_contour the largest one, distance_image its distance map (mask_image is the work image),
// image_size the source's size. The four outline box fields follow a found outline and keep their
// values otherwise.
void rebuild_outline(FitState& state);

// Rebuilds the target for the outline_contour already in the state, on an image of the source's
// size (mask_image is the work image): once per outline, every energy evaluation reads it.
void compute_outline_distance(FitState& state);

// The energy of the two halves against the state's target (deviation_energy of fit_target.h, in
// the state's own work buffers, its profile into left_samples, right_samples and deviation_max).
// When draw_views is set and the call gets past the tracing, deviation_image is redrawn and, if
// show_distance is set, distance_display receives the map scaled by 0.01 (the map itself is
// untouched); returns in *views_drawn whether that happened (may be null).
double deviation_energy(FitState& state, const std::vector<cv::Point>& contour_w_left,
                        const std::vector<cv::Point>& contour_w_right, bool draw_views,
                        bool* views_drawn = nullptr);

// The computing part of a refresh: generates the model from the trackbar fields and the cut-offs
// (the no-points message to standard error), keeps its extent, composes overlay_image (photograph
// dimmed to show_input, red halves, yellow outline), stores the energy in `energy` (drawing the
// Deviation view), resizes the overlay into output_display and writes the status line
// "energy=E, lambda=L, w=A (pixel-w=P), h=H" to `status`, flushed. With screen_overlays set,
// draw_screen_overlays then draws into output_display. Returns whether the energy
// redrew its views (see deviation_energy). While the photograph, its overlay buffer, show_input
// and the outline stay the same, only the boxes of the last halves are composed again; a
// photograph changed in place must come with a new overlay_image (as set-up makes one).
bool compose_output_view(FitState& state, std::ostream& status);

// Makes overlay_image the whole composition after a first composition that dimmed only the rows
// the view reads (compose_view_rows_first): the other rows are dimmed, and the halves of that
// composition and the outline are drawn over them again. Nothing to do otherwise; the next
// composition does it first when it has not been done.
void complete_overlay(FitState& state);

// Draws into output_display, over the resized overlay, what must be seen whatever the
// photograph's size: when the view is smaller than the photograph, the outline (yellow, 4 view
// pixels wide) and over it the halves (red, 2 wide) at the view's scale; then for a model with
// points the axis from its bottom end to its top end and a filled triangle beyond the top end
// pointing away from the model (green, 1 view pixel wide, 2 on a reduced view). The energy never
// reads the view.
void draw_screen_overlays(FitState& state, const std::vector<cv::Point>& left,
                          const std::vector<cv::Point>& right);

// One optimiser evaluation on the state: evaluate_model against its target with its cut-offs, in
// its work buffers, the no-points message to standard error; keeps the generation's extent.
double evaluate_parameters(FitState& state, const ParameterVector& p);

// The width that makes the model's pixel width equal `outline_width`, inverting the width
// relation at `peak_abscissa` of the last generation, with the height halved in integers:
// trunc(trunc(outline_width (hh e^t + e^(-lambda t))) / (2 lambda)). model.width when
// lambda_milli is 0.
int width_for_outline(const ModelParameters& model, double peak_abscissa, int outline_width);

}  // namespace meravel
