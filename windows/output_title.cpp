#include "windows/output_title.h"

#include <opencv2/highgui.hpp>
#include <sstream>

#include "fit/fit_warnings.h"
#include "windows/fit_windows.h"

namespace {

std::string output_prompt;
std::string output_scale_note;

}  // namespace

std::string output_status_title(const FitState& state) {
  std::ostringstream title;
  title << "Output: energy " << state.energy << " px, lambda " << state.model.lambda_milli / 1000.0;
  const std::string warnings = fit_warnings_text(
      fit_warnings(state.target, state.model, state.cut_offs(), state.energy, kStartRotation));
  if (!warnings.empty()) title << " - " << warnings;
  return title.str();
}

void set_output_prompt(const std::string& prompt) { output_prompt = prompt; }

void set_output_scale_note(const std::string& note) { output_scale_note = note; }

void show_output_title() {
  const FitState& state = fit_state();
  const std::string title = !output_prompt.empty() && state.clicks.armed()
                                ? "Output: " + output_prompt
                                : output_status_title(state) +
                                      (output_scale_note.empty() ? "" : " - " + output_scale_note);
  try {
    cv::setWindowTitle(kOutputWindow, title);
  } catch (const cv::Exception&) {
    // no image window exists at all
  }
}
