// Keys of the session that change how the photograph is read and which end of the model is its
// top. Each works on fit_state() and the open fitting windows.
#pragma once

// Key n: the binarisation switches between a light object on a dark ground and a dark object on
// a light ground (one line says which); the outline is found again and the view refreshed. The
// model keeps its values.
void switch_polarity();
