// Checking a JPEG file's data before it is decoded for a measurement: a photograph with damaged
// data decodes without an error into grey or garbage rows, which a fit would measure as if they
// were the egg; one whose header claims far more pixels than its bytes can describe (forged, or
// cut short) would take seconds and gigabytes to decode into nothing.
#pragma once

#include <string>
#include <vector>

namespace meravel {

// What is wrong with the JPEG in `bytes`, as the end of a "Cannot load" line ("the image data is
// damaged (Corrupt JPEG data: premature end of data segment)"), or the empty text when nothing is:
//  - with Huffman coding every 8 x 8 block takes at least one bit, so a file too short for the
//    blocks its header declares cannot hold that image;
//  - the data is decoded once at 1/8 of its size, which reads every block's coefficients but
//    computes few pixels, and any warning of the decoder (corrupt data, a premature end, a bad
//    marker) counts as damage.
// The decoder's own lines go nowhere: the text returned replaces them.
std::string jpeg_data_problem(const std::vector<unsigned char>& bytes);

}  // namespace meravel
