// Taking a measurement of the current file: the session it runs and how closing the main window
// during a session ends it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "fit/session_contract.h"

namespace meravel {
class MeasuringWindow;
}  // namespace meravel

// The measurement session that "Take new measurement" runs (MeasuringWindow::measure_photo's
// form, windows/measuring_window.h): the main window's measuring window, the photograph's path and
// the start values in, the result out, nothing when no session could run. Tests replace it; by
// default it is the real session with its image windows.
using MeasurementSession = std::function<std::optional<meravel::SessionResult>(
    meravel::MeasuringWindow& window, const std::string& image_path,
    const meravel::SessionStart& start)>;
extern MeasurementSession measurement_session;
