#include "fit/session_contract.h"

#include <cmath>

namespace meravel {

const char* session_end_name(SessionEnd end) {
  switch (end) {
    case SessionEnd::kAccepted:
      return "accepted";
    case SessionEnd::kCancelled:
      return "cancelled";
    case SessionEnd::kCancelRequested:
      return "cancel requested";
    case SessionEnd::kOutputClosed:
      return "Output closed";
    case SessionEnd::kPhotographUnreadable:
      return "photograph unreadable";
    case SessionEnd::kFailed:
      return "failed";
  }
  return "?";
}

bool operator==(const SessionStart& a, const SessionStart& b) {
  return a.threshold == b.threshold && a.lambda == b.lambda && a.region == b.region &&
         a.cut_offs.top == b.cut_offs.top && a.cut_offs.bottom == b.cut_offs.bottom &&
         a.polarity == b.polarity;
}

std::ostream& operator<<(std::ostream& out, const SessionStart& s) {
  return out << "threshold " << s.threshold << ", lambda " << s.lambda << ", region " << s.region
             << ", cut-offs " << s.cut_offs.top << "/" << s.cut_offs.bottom
             << (s.polarity == ObjectPolarity::kDarkOnLight ? ", dark object" : "");
}

std::ostream& operator<<(std::ostream& out, const SessionResult& r) {
  out << session_end_name(r.end) << ": threshold " << r.threshold << ", lambda " << r.lambda
      << ", energy " << r.energy << ", region " << r.region << ", cut-offs " << r.cut_offs.top
      << "/" << r.cut_offs.bottom << ", " << r.model << " from " << r.model_origin_in_photo
      << ", photograph " << r.photo_size << ", keys \"" << r.keys << "\"";
  if (r.polarity == ObjectPolarity::kDarkOnLight) out << ", dark object";
  if (r.warnings.any()) out << ", " << fit_warnings_text(r.warnings);
  return out;
}

int lambda_milli_of(double lambda) {
  const double milli = std::round(lambda * 1000.0);
  if (!(std::fabs(milli) < 2e9)) return 0;  // not a value the caller can pass
  return static_cast<int>(milli);
}

}  // namespace meravel
