// Taking a measurement of the current file: the session it runs and how closing the main window
// during a session ends it.
#pragma once

#include <functional>

// The measurement session that "Take new measurement" runs, with run_measurement_session's
// arguments and result (fit/windows/fit_session.h). Tests replace it; by default it is the real
// session with its image windows.
using MeasurementSession = std::function<int(
    const char* image_path, int* threshold, double* lambda, double* energy, int* roi_x, int* roi_y,
    int* roi_width, int* roi_height, int* cut_off_top, int* cut_off_bottom)>;
extern MeasurementSession measurement_session;

// The lambda with which a session reports a cancel.
constexpr double kCancelledLambda = 9999.0;
