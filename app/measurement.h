// Taking a measurement of the current file: the session it runs and how closing the main window
// during a session ends it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "fit/session_contract.h"

// The measurement session that "Take new measurement" runs (measure_photo's form,
// windows/fit_session.h): the photograph's path and the start values in, the result out,
// nothing when no session could run. Tests replace it; by default it is the real session with its
// image windows.
using MeasurementSession = std::function<std::optional<SessionResult>(const std::string& image_path,
                                                                      const SessionStart& start)>;
extern MeasurementSession measurement_session;
