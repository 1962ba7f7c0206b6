// The typed contract of one measurement: what a session starts from and what it hands back.
//
// Computing core: plain values, no window. The interactive session (windows/fit_session.h)
// and any other caller that sets up a fit (prepare_fit in fit_W.h) take a SessionStart.
#pragma once

#include <functional>
#include <opencv2/core.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "fit/fit_target.h"
#include "fit/fit_uncertainty.h"
#include "fit/fit_warnings.h"
#include "fit/model.h"
#include "fit/parameter_table.h"

namespace meravel {

struct SessionResult;

// What saving an accepted fit gave: saved, or the reason why not, one line without a final period
// ("ERROR writing file: No space left on device (measures.csv)").
struct SaveOutcome {
  bool saved = false;
  std::string reason;
};

// Saves an accepted fit; called with the values the session would hand back.
using SaveStep = std::function<SaveOutcome(const SessionResult& accepted)>;

// Key k's two clicks on the ends of a known length, in pixels of the whole upright photograph
// (x to the right, y downwards), whatever region the view was cut to.
struct ScaleClicks {
  cv::Point2d first;
  cv::Point2d second;
};

// A scale for one photograph, found in it by key c or carried over from an earlier photograph by
// key y, as a session takes it and hands it back.
struct SessionScale {
  std::string method;  // "ruler", "marker", "disc" or "carried"; empty: no scale
  double px_per_mm = 0.0;
  double px_per_mm_se = 0.0;  // 0: not known
  std::string from;           // carried: where from, in words of the caller ("4": its position)
  bool spacing_varies = false;
  bool steep_angle = false;
  std::string note;  // what was found ("105 ticks"), or why nothing was
  // What was found, in pixels of the whole photograph: the ticks, the marker's corners or points
  // of the disc's edge.
  std::vector<cv::Point2f> marks;
  // For drawing what was found: a ruler's unit direction (along the ruler, across its ticks) and
  // a disc's fitted ellipse; zero when the scale is of another kind.
  cv::Point2f ruler_direction;
  cv::RotatedRect ellipse;

  bool found() const { return px_per_mm > 0.0; }
};

// What one measurement starts from: the main window's start threshold and lambda, and the region
// of interest and cut-offs carried over from the last accepted measurement.
struct SessionStart {
  int threshold = kStartThreshold;  // binarisation threshold, 0..kThresholdMax
  double lambda = kStartLambda;     // taken in rounded to whole thousandths (lambda_milli_of)
  // In pixels of the whole upright photograph; a width or height of 0 means none. A region that
  // does not fit the photograph (or has a negative value) is dropped: width and height become 0.
  cv::Rect region;
  CutOffs cut_offs = kStartCutOffs;
  // The photograph, already loaded and upright (CV_8UC3), shared and never written to; empty to
  // have the session load its path. The session fits these pixels from start to end.
  cv::Mat photograph;
  // Run on ENTER, before the session ends: an accepted session is then one whose fit was saved,
  // and a failed save keeps the session open to try again or cancel. None: ENTER ends it at once.
  SaveStep save;
  // What key k does with its two clicks: asks for the length between them and keeps the scale
  // (the main window's dialog and the series' scale file). The session waits for it to return and
  // then carries on. None: key k says that no scale can be set here.
  std::function<void(const ScaleClicks&)> set_scale;
  // What key c does: reads the scale from the whole photograph (its pixels as loaded). None: key c
  // says that no scale can be read here.
  std::function<SessionScale(const cv::Mat& photograph)> read_scale;
  // What key y carries over: the scale of the photograph measured before, its `from` set; none
  // (not found): key y says there is none.
  SessionScale carried_scale;
  // The scale the photograph has without keys c and y (the series' scale, key k's), for the
  // Output title's millimetres: asked at the start and after each key k. None: no millimetres
  // until key c or y gives a scale.
  std::function<SessionScale()> scale_in_force;
  // The binarisation's polarity, carried over from the last accepted measurement like the region.
  ObjectPolarity polarity = ObjectPolarity::kLightOnDark;
};

// Which of several eggs found in one photograph a measurement is (key e found them, numbered left
// to right and then top to bottom by their centres).
struct EggPlace {
  int index = 0;  // 1..count
  int count = 0;  // 0: the measured object is not one of numbered eggs
  // The centroid of the measured outline's area and its bounding box, in pixels of the whole
  // upright photograph.
  cv::Point2d centre_in_photo;
  cv::Rect box_in_photo;
  bool touching = false;  // cut apart from another egg it touches
};

// How a session ended.
enum class SessionEnd {
  kAccepted,              // ENTER
  kCancelled,             // ESC
  kCancelRequested,       // request_session_cancel(), e.g. the main window was closed
  kOutputClosed,          // the "Output" window was closed by hand
  kPhotographUnreadable,  // the photograph could not be loaded at the start
  kFailed,                // an image operation failed or memory ran out
};
const char* session_end_name(SessionEnd end);

// What a session hands back. Only an accepted session's values are a measurement: on every other
// end they are those of the SessionStart (energy 0, model all 0) and nothing was accepted.
struct SessionResult {
  SessionEnd end = SessionEnd::kCancelled;
  int threshold = 0;
  double lambda = 0.0;  // lambda_milli / 1000
  double energy = 0.0;  // the deviation energy the last refresh computed; +inf when unscorable
  // The region of interest in pixels of the whole photograph, for the next measurement (a nested
  // crop included); width and height 0 when none, x and y then keep their values.
  cv::Rect region;
  CutOffs cut_offs;
  ObjectPolarity polarity = ObjectPolarity::kLightOnDark;  // for the next measurement
  // The six model values, in pixels of the image the fit was made on: the photograph cut to the
  // region it showed last, which begins at model_origin_in_photo in the whole photograph.
  ModelParameters model;
  cv::Point model_origin_in_photo;
  // The whole upright photograph's size; 0 x 0 when it could not be loaded.
  cv::Size photo_size;
  // The keys of the session that acted, in order and blank-separated ("r a", "m p", "k s a"): every
  // key the session knows except the ENTER or ESC that ended it. Kept on every end.
  std::string keys;
  // What fit_warnings (fit_warnings.h) tells of the accepted values against the session's start
  // rotation; none on every other end.
  FitWarnings warnings;
  // Whether the accepted fit was made against the egg that the automatic segmentation found (key
  // e, or meravel fit without a threshold), with its score and the next best object's (0 when
  // none); false for the largest outline at the threshold.
  bool segmented = false;
  double candidate_score = 0.0;
  double runner_up_score = 0.0;
  // The standard errors of the accepted values when they are those of the last automatic fit;
  // unknown (NaN) otherwise and on every other end.
  FitUncertainty uncertainty;
  // The scale key c found or key y carried over for this photograph (the last one pressed); none
  // when neither was.
  SessionScale scale;
  // The egg measured, when key e found the photograph's eggs and the accepted fit is to one of
  // them; count 0 otherwise.
  EggPlace egg;

  bool accepted() const { return end == SessionEnd::kAccepted; }
};

// Compares the values; whether set_scale and read_scale are set, and carried_scale, are not
// compared.
bool operator==(const SessionStart& a, const SessionStart& b);
std::ostream& operator<<(std::ostream& out, const SessionStart& start);
std::ostream& operator<<(std::ostream& out, const SessionResult& result);

// Lambda as the session takes it in: lambda x 1000 rounded to the nearest whole number; 0 for a
// value no caller can pass (beyond 2e9 thousandths, or not a number).
int lambda_milli_of(double lambda);

}  // namespace meravel
