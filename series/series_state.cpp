#include "series/series_state.h"

namespace meravel {

bool operator<(const SeriesEntry& a, const SeriesEntry& b) { return a.order_key < b.order_key; }

SeriesState& series_state() {
  static SeriesState state;
  return state;
}

}  // namespace meravel
