// Keys of the session that change how the photograph is read and which end of the model is its
// top. Each works on fit_state() and the open fitting windows.
#pragma once

// Key n: the binarisation switches between a light object on a dark ground and a dark object on
// a light ground (one line says which); the outline is found again and the view refreshed. The
// model keeps its values.
void switch_polarity();

// Key f: the model's top goes to the other end (flipped_model, top_end.h), then the automatic
// fit's last refinement (refine_fit, auto_fit.h) from there; the trackbars are set and the view
// refreshed. f right after f restores the values the first f started from.
void flip_top();
