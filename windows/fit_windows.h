// The fitting windows: "Output", "Trackbars" with the ten trackbars, "Deviation", and on request
// "Binary Image" and "Distance Transformation"; the trackbar callbacks, the five resets and the
// optimiser's window side. Everything works on the measuring window it is given and runs on the
// GUI thread.
#pragma once

#include "fit/optimiser.h"

namespace meravel {

class MeasuringWindow;

inline constexpr const char* kOutputWindow = "Output";
inline constexpr const char* kTrackbarsWindow = "Trackbars";
inline constexpr const char* kDeviationWindow = "Deviation";
inline constexpr const char* kBinaryWindow = "Binary Image";
inline constexpr const char* kDistanceWindow = "Distance Transformation";

// Trackbar labels, in the order they are created.
inline constexpr const char* kLambdaTrackbar = "Lambda*1000";
inline constexpr const char* kWidthTrackbar = "Width";
inline constexpr const char* kHeightTrackbar = "Height";
inline constexpr const char* kRotationTrackbar = "Rotation";
inline constexpr const char* kTranslationXTrackbar = "Translation x";
inline constexpr const char* kTranslationYTrackbar = "Translation y";
inline constexpr const char* kCutOffTopTrackbar = "Cut-off Top";
inline constexpr const char* kCutOffBottomTrackbar = "Cut-off Bottom";
inline constexpr const char* kShowInputTrackbar = "Show input";
inline constexpr const char* kThresholdTrackbar = "Threshold";
inline constexpr int kTrackbarCount = 10;

// Builds or rebuilds the working images, the outline and the windows for the current, already
// cropped, non-empty `source_image`: set_up_fit (fit_W.h: width 6W, height 3H/4, translation
// (W/2, H/2); lambda, rotation, show input, threshold and cut-offs keep their values), then
// show_fit_windows.
void setup_fit_windows(MeasuringWindow& window);

// The image windows of a session, empty, where show_fit_windows places them: "Binary Image" while
// wanted (show_binary), "Output", "Trackbars" (no trackbar yet) and "Deviation". Windows that exist
// are left as they are. Needs no photograph, so it may run while one is read.
void create_fit_windows(bool show_binary);

// Closes the image window `name` when it is open.
void close_window(const char* name);

// Closes those of the session's windows that are open: the windows made for a photograph that
// could then not be read.
void close_fit_windows();

// The window part of the set-up, over a state set_up_fit or prepare_fit made: "Binary Image"
// while wanted, "Output" at (0, 0), "Trackbars" 400 x 600 at (808, 0) with the ten trackbars,
// "Deviation" at (0, 625). Every trackbar gets its maximum for this image and the field's value;
// no callback runs while they are placed. Ends with exactly one refresh.
void show_fit_windows(MeasuringWindow& window);

// The callback of trackbars 1 to 9: regenerates the model, composes and shows "Output", keeps
// the energy, shows "Deviation" (and "Distance Transformation" while wanted) when the energy drew
// them, and writes the status line.
void refresh_output_view(MeasuringWindow& window);

// The "Threshold" callback (key b calls it with 0): finds the outline again, recomputes its
// distance map, shows "Binary Image" while wanted, then refreshes.
void on_threshold_change(MeasuringWindow& window);

// Sets the field bound to trackbar `label` to `value`, then moves the trackbar there as a user
// would: the position is clamped to the trackbar's range, the refresh runs through the callback
// only when the position changes, and the field ends with the trackbar's position.
void set_trackbar(MeasuringWindow& window, const char* label, int value);

// Sets the six model trackbars, "Lambda*1000" to "Translation y" in that order, to the fit state's
// fields, as the optimiser writes its result back; each change runs a refresh.
void set_model_trackbars(MeasuringWindow& window);

// The resets of keys l, t, h, w and r. Each writes its fields, then sets the matching trackbars.
void reset_lambda(MeasuringWindow& window);          // lambda_milli = 1000
void reset_translation(MeasuringWindow& window);     // translation = the outline box centre
void reset_height(MeasuringWindow& window);          // height = the outline box height
void fit_width_to_outline(MeasuringWindow& window);  // width such that the model is as wide as
                                                     // the outline box; unchanged while
                                                     // lambda_milli is 0
void reset_all(MeasuringWindow& window);  // translation, height, lambda, then width, in that order

// Runs the pattern search from the six fields within the ranges (parameter order: lambda*1000,
// width, height, rotation, translation x, translation y), every evaluation on
// the energy's fast path and without drawing. Then writes the result (truncated toward zero) into
// the fields, sets the six trackbars in that order, refreshes once, and brackets the run with the
// lines "Optimising..." and "...optimisation done!".
void optimise(MeasuringWindow& window, const OptimiserRanges& ranges, int combination_depth);
// The same with the twelve bounds as (low, high) pairs in parameter order.
void optimise(MeasuringWindow& window, double low0, double high0, double low1, double high1,
              double low2, double high2, double low3, double high3, double low4, double high4,
              double low5, double high5, int combination_depth);

}  // namespace meravel
