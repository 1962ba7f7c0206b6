// Opening the photograph of a measurement: taken from the prefetch when it already holds it, read
// on the prefetch's thread otherwise while the main window keeps repainting under the busy cursor;
// once the session shows its first view, the next photograph in measuring order is read ahead.
#pragma once

#include <optional>
#include <string>

#include "fit/session_contract.h"
#include "series/photo_prefetch.h"

namespace meravel {
class MeasuringWindow;
}  // namespace meravel

// Lets the heap keep the memory of freed full-size images for the next ones instead of handing it
// back to the system at once: an open then reuses pages that are already mapped rather than
// having the system map and clear a few hundred megabytes of new ones (the photograph, the
// overlay, the binary image, the distance map and its work image). Every thread allocates from
// that one heap, so a photograph read on the prefetch's thread or a map made on the second thread
// reuses that memory too. The peak stays the same; what the program holds after a session stays
// at about that peak. Call once at the start.
void keep_freed_images_for_reuse();

// The program's one prefetch.
meravel::PhotographPrefetch& photograph_prefetch();

// Keeps the prefetch on what the user measures next: the photograph held or being read stays when
// it is the series' current file or the one after it in measuring order; otherwise it is dropped
// and the current file is read ahead (nothing is, when the series has no file).
void follow_current_photograph();

// The photograph of a measurement of `image_path`: the prefetch's when it holds it unchanged,
// otherwise read on the prefetch's thread while the main window keeps repainting. Unless a session
// runs, the session's windows are made meanwhile (create_fit_windows), for the session to take
// over; they are closed again when the photograph cannot be read. The busy cursor shows from here
// until the session's first view (end_busy_cursor).
meravel::PhotographFile open_photograph(const meravel::MeasuringWindow& window,
                                        const std::string& image_path);

// Ends the busy cursor of an open, when it shows.
void end_busy_cursor();

// The measurement session that "Take new measurement" runs: measure_decoded_photo on
// start.photograph (or, when the start has none, on the photograph open_photograph gives for
// `image_path`), the busy cursor ended at the first view, and then the next file of the series
// read ahead. A photograph that cannot be read goes to measure_photo, which says so as it always
// has.
std::optional<meravel::SessionResult> measure_prefetched_photo(meravel::MeasuringWindow& window,
                                                               const std::string& image_path,
                                                               const meravel::SessionStart& start);
