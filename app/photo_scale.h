// Key c's reading of the photograph's scale in the window: the choice of `meravel fit --scale
// auto`, with the sizes of a marker or a disc asked of the user when they are needed.
#pragma once

#include <QWidget>
#include <functional>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

#include "fit/session_contract.h"
#include "scale/scale_reading.h"

// The sizes of the references the user gave, kept for the next photographs measured.
struct ReferenceSizes {
  double marker_side_mm = 0.0;    // the printed marker's black outer square; 0: not given
  double disc_diameter_mm = 0.0;  // a disc's or coin's diameter; 0: not given
};

// Asks for a size in millimetres with `question`, proposing `proposed_mm` (0: none); empty when
// the user declines.
using AskSize =
    std::function<std::optional<double>(const std::string& question, double proposed_mm)>;

// The questions asked.
inline constexpr const char* kMarkerSideQuestion =
    "A printed marker is in the photograph. Side of its black square in millimetres:";
inline constexpr const char* kDiscDiameterQuestion =
    "No marker or ruler found. Diameter of a disc or coin in the photograph in millimetres "
    "(Cancel: none):";

// The scale of `photograph` (the whole upright photograph, CV_8UC3) for key c: a marker of the
// known side when one is seen, else a ruler, as `--scale auto:SIDE` reads. A marker seen whose
// side is not known yet asks for it (kMarkerSideQuestion), keeps the answer and reads the marker.
// With neither a marker nor a ruler found, asks for a disc's diameter (kDiscDiameterQuestion,
// proposing the last one), keeps the answer and reads the disc. Not found: the note says why.
meravel::SessionScale read_scale_asking(const cv::Mat& photograph, ReferenceSizes& sizes,
                                        const AskSize& ask);

// What a reading found, as a session takes it: method, scale and its error, doubts, and what to
// draw (the ticks or the marker's corners as marks, the ruler's direction, the disc's ellipse).
meravel::SessionScale session_scale_of(const meravel::ScaleReading& reading);

// The question in a modal dialog over `parent`: a field (object name kReferenceSizeFieldName)
// holding the proposed size, OK enabled for what parse_length_mm accepts.
inline constexpr const char* kReferenceSizeDialogName = "reference_size_dialog";
inline constexpr const char* kReferenceSizeFieldName = "lineEdit_size_mm";
std::optional<double> ask_reference_size(QWidget* parent, const std::string& question,
                                         double proposed_mm);
