// The interactive measurement session: the fitting windows over one photograph and their key loop.
#pragma once

// Runs one measurement of the photograph at `image_path` and returns when the user accepts it
// (ENTER) or cancels it (ESC). The nine values are read at the start. On ENTER every one is
// written back: threshold, lambda (lambda_milli / 1000), energy, the region of interest and the
// two cut-offs. On a cancel only *lambda is written, with the cancel marker 9999.0. Returns 0.
int run_measurement_session(const char* image_path, int* threshold, double* lambda, double* energy,
                            int* roi_x, int* roi_y, int* roi_width, int* roi_height,
                            int* cut_off_top, int* cut_off_bottom);

// Whether a session is running now.
bool measurement_session_running();

// Ends the running session as a cancel at its next key wait (for example when the main window is
// closed during a measurement); does nothing when no session runs.
void request_session_cancel();
