// The two passes of the S-record reader over the text of one file.
#pragma once

#include "image/ImageSink.h"
#include "image/MotInput.h"

#include <cstdint>

namespace kestrune {

// The range scan: writes the lowest address of any data record to start and
// returns the end, one past the last data byte of the record with the
// highest address (the first such record when several share it). Reads the
// input to its end. Without any data record, start is 0xFFFFFFFF and the
// end 0, the only case in which start > end.
uint32_t ScanMotRange(MotInput &input, uint32_t &start);

// The placement pass: writes the data bytes of every data record to the
// image at 8 + (address - start), in file order, so later records win where
// they overlap. Reads the input from where it stands to its end. Returns
// the result of the writes and the final flush of the image.
bool WriteMotImage(MotInput &input, ImageSink &image, uint32_t start);

} // namespace kestrune
