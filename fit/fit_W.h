// The fitting engine: its one state record and the computing core's operations.
//
// Everything declared here links opencv_core and opencv_imgproc only. Nothing here opens, shows
// or waits on a window: where the core produces a picture (the binary image, the distance map,
// the Deviation plot, the Output view) it leaves it in a FitState image and the window layer
// (fit_windows.h, fit_session.h) shows it.
#pragma once

#include <opencv2/core.hpp>
#include <ostream>
#include <vector>

// The fitting engine's state. There is one program-wide instance (fit_state()); tests make their
// own. Every field is zero, false or empty at start. W x H is the size of `source_image` when the
// fit windows were last set up. Images are released (reset to an empty cv::Mat) and created anew;
// the point containers stand in for the old memory storages and are owned here.
struct FitState {
  // Trackbar-backed model parameters.
  int lambda_milli = 0;    // lambda x 1000, 0..6000
  int width = 0;           // width factor; the model's horizontal scale is lambda * width, 0..20W
  int height = 0;          // model height in pixels, 0..the diagonal of W x H, rounded up
  int rotation = 0;        // degrees, 0 points down, 90 left, 180 up, 270 right; 0..360
  int translation_x = 0;   // image x of the model's centre, 0..W
  int translation_y = 0;   // image y of the model's centre, 0..H
  int show_input = 0;      // weight of the photograph in the Output view, per cent, 0..100
  int threshold = 0;       // binarisation threshold, 0..250
  int cut_off_top = 0;     // per cent of the height left out at the top, 0..49
  int cut_off_bottom = 0;  // per cent left out at the bottom, 0..49

  double energy = 0.0;  // deviation energy of the parameters last shown; +inf when unscorable

  // Bounding box of the largest outline: extreme-coordinate differences and the box centre.
  int outline_width = 0;
  int outline_height = 0;
  int outline_center_x = 0;
  int outline_center_y = 0;

  int pixel_width = 0;         // width in pixels of the last generated W-curve
  double peak_abscissa = 0.0;  // curve parameter t at which that curve was widest

  // Mouse modes.
  bool awaiting_first_click = false;
  bool awaiting_second_click = false;
  int top_click_x = 0;
  int top_click_y = 0;

  // Region of interest in pixels of the image it cuts; a width or height of 0 means none.
  int roi_x = 0;
  int roi_y = 0;
  int roi_width = 0;
  int roi_height = 0;

  bool display_fit_width = false;  // the views are 800 wide (true) or 600 high (false)
  bool show_distance = false;      // "Distance Transformation" wanted
  bool show_binary = false;        // "Binary Image" wanted

  // The largest outline of the binarised photograph, a closed chain of pixels; empty when the
  // binary image has no contour.
  std::vector<cv::Point> outline_contour;

  cv::Mat overlay_image;     // W x H, CV_8UC3: the Output view is composed here
  cv::Mat source_image;      // CV_8UC3: the photograph, cropped to the region of interest
  cv::Mat output_display;    // display size, CV_8UC3: what "Output" shows
  cv::Mat crop_buffer;       // empty except inside the crop step
  cv::Mat deviation_image;   // deviation_width x deviation_height, CV_8UC3: what "Deviation" shows
  int deviation_width = 0;   // 600 from the session's start
  int deviation_height = 0;  // 100 from the session's start
  cv::Mat mask_image;        // W x H, CV_8UC1: work image of the energy
  cv::Mat distance_image;    // W x H, CV_32FC1: distance of each pixel to the nearest outline pixel
  cv::Mat distance_display;  // display size, CV_32FC1: what "Distance Transformation" shows
  cv::Mat binary_display;    // display size, CV_8UC1: what "Binary Image" shows

  // Work containers (the old memory storages): the traced chains of the two halves and every
  // contour of the last binarisation.
  std::vector<cv::Point> left_curve_storage;
  std::vector<cv::Point> right_curve_storage;
  std::vector<std::vector<cv::Point>> outline_storage;

  // ---- Caches and work buffers of the computing core (no model state) ----

  // The distance map the energy reads and the outline it was made from; distance_image is a copy
  // for others to look at. The energy recomputes the map when outline_contour or the source
  // image's size no longer match, so it never reads a stale or cleared map.
  cv::Mat distance_map;
  std::vector<cv::Point> distance_outline;
  // The map scaled by 0.01 and resized to the display size, made once per map and copied into
  // distance_display whenever the view is wanted.
  cv::Mat distance_view;
  // The deviation profile of the last energy call that got past the tracing: the distances read
  // along each half in walk order (a failed walk leaves its half empty), and their maximum.
  std::vector<double> left_samples;
  std::vector<double> right_samples;
  double deviation_max = 0.0;
  // Work image on which one half is rasterised and traced: grown as needed, never shrunk.
  cv::Mat trace_buffer;
  std::vector<std::vector<cv::Point>> trace_contours;
  std::vector<cv::Point> trace_points;  // a half shifted into the trace buffer's frame
  // The halves of the last evaluate_parameters call.
  std::vector<cv::Point> evaluation_left;
  std::vector<cv::Point> evaluation_right;
  // What overlay_image was last composed from: the photograph and overlay buffers (held, so that
  // a buffer made anew is never taken for them), the "Show input" level, the outline, and the
  // boxes of the two halves drawn, clipped to the image.
  cv::Mat composed_source;
  cv::Mat composed_overlay;
  int composed_show_input = -1;
  std::vector<cv::Point> composed_outline;
  cv::Rect composed_halves_boxes[2];
};

// The program-wide fit state used by the window layer.
FitState& fit_state();

// Display size of the views for a W x H image, in integer arithmetic: 800 wide, or 600 high when
// the image is taller than 4:3. Each dimension is at least 1. Sets *fit_width accordingly.
cv::Size display_size(int image_width, int image_height, bool* fit_width);

// ---- Binarisation and outline (outline.cpp) ----

// Thresholds `source` (CV_8UC3) to grey > state.threshold -> 255, finds every contour (list
// retrieval, no approximation, the outermost pixel frame counting as background) into
// state.outline_storage and returns the one with the most points (the first of equals), or an
// empty vector. When a contour is found the four outline box fields are set; otherwise they keep
// their values. When state.show_binary is set, state.binary_display receives the thresholded image
// resized bilinearly to its size (the window layer shows it).
std::vector<cv::Point> find_outline(FitState& state, const cv::Mat& source);

// Distance map of state.outline_contour into state.distance_image (W x H, CV_32FC1): the outline
// drawn as 0 on 255, a two-pixel frame cleared, DIST_L2 with the 5x5 mask. Computed once per
// outline (set-up and threshold change); every energy evaluation reads it. With no outline the
// map is left as it is (the energy is +inf then anyway).
void compute_outline_distance(FitState& state);

// ---- W-curve model (w_curve.cpp) ----

// Generates the two halves of the W-curve, each ordered from the model's top to its bottom, into
// left_out and right_out (cleared first), reading state.cut_off_top / cut_off_bottom. Sets
// state.peak_abscissa (only when some offset exceeds 0) and, when points were produced,
// state.pixel_width. Returns false when no sample passes the cut-off band: the empty line and
// "Your parameters did not produce any w-curve points!" then go to standard error and both halves
// are empty (an unscorable model).
bool generate_w_curve(FitState& state, double lambda, double horizontal_scale, double height,
                      double rotation_degrees, double translation_x, double translation_y,
                      std::vector<cv::Point>& left_out, std::vector<cv::Point>& right_out);

// ---- Deviation energy (deviation_energy.cpp) ----

// RMS distance in pixels between the rasterised halves and the outline, read from
// state.distance_image, rounded to six decimals; +inf when a half or the outline is missing or a
// half cannot be traced from its first to its last point. When draw_views is set and the call
// gets past the tracing, state.deviation_image is redrawn and, if state.show_distance is set,
// state.distance_display receives the map scaled by 0.01 (the map itself is untouched); returns
// in *views_drawn whether that happened (may be null).
double deviation_energy(FitState& state, const std::vector<cv::Point>& contour_w_left,
                        const std::vector<cv::Point>& contour_w_right, bool draw_views,
                        bool* views_drawn = nullptr);

// ---- Output view (output_view.cpp) ----

// The computing part of a refresh: generates the model from the trackbar fields, composes
// state.overlay_image (photograph dimmed to show_input, red halves, yellow outline), stores the
// energy in state.energy (drawing the Deviation view), resizes the overlay into
// state.output_display and writes the status line
// "energy=E, lambda=L, w=A (pixel-w=P), h=H" to `status`, flushed. Returns whether the energy
// redrew its views (see deviation_energy). While the photograph, its overlay buffer, show_input
// and the outline stay the same, only the boxes of the last halves are composed again; a
// photograph changed in place must come with a new overlay_image (as set-up makes one).
bool compose_output_view(FitState& state, std::ostream& status);

// One optimiser evaluation of p = (lambda*1000, width, height, rotation, tx, ty): the model and its
// energy, no views drawn. +inf for a model without points.
double evaluate_parameters(FitState& state, const double p[6]);

// The width that makes the model's pixel width equal state.outline_width, from the peak abscissa
// of the last generation; state.width unchanged when lambda_milli is 0.
int width_for_outline(const FitState& state);
