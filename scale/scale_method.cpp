#include "scale/scale_reading.h"

namespace meravel {

const char* scale_method_name(ScaleMethod method) {
  switch (method) {
    case ScaleMethod::ruler:
      return "ruler";
    case ScaleMethod::marker:
      return "marker";
    case ScaleMethod::disc:
      return "disc";
    case ScaleMethod::given:
      return "given";
    case ScaleMethod::carried:
      return "carried";
    case ScaleMethod::clicked:
      return "clicked";
    case ScaleMethod::none:
      break;
  }
  return "none";
}

}  // namespace meravel
