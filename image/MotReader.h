// The two passes of the S-record reader over the text of one file.
#pragma once

#include "image/ImageSink.h"
#include "image/MotInput.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// What the range scan found.
struct MotScan {
  // The lowest address of any data record, and one past the last data byte
  // of the record with the highest address (the first such record when
  // several share it). Without any data record, Start is 0xFFFFFFFF and End
  // 0, the only case in which Start > End.
  uint32_t Start = 0xFFFFFFFFu;
  uint32_t End = 0;
  // How far the image data reach from Start: End - Start, or more when a
  // record below the highest one reaches further.
  uint64_t Extent = 0;
  // The first record that is not well-formed ("ERROR: MOT file line ...");
  // empty when every record is. Nothing may be written then.
  std::string Error;
  // What the file does that still loads: no termination record, records
  // that overlap, records running past the top of the address space.
  std::vector<std::string> Warnings;
};

// The range scan. Reads the input to its end, or up to the first record
// that is not well-formed. Records that run past 0xFFFFFFFF are skipped.
MotScan ScanMotRange(MotInput &input);

// The placement pass: writes the data bytes of every data record to the
// image at 8 + (address - start), in file order, so later records win where
// they overlap. Reads the input from where it stands to its end. False when
// a write or the final flush of the image fails, or when the text no longer
// passes the checks of the scan (changed since), with error saying so; error
// stays empty for a failed write.
bool WriteMotImage(MotInput &input, ImageSink &image, uint32_t start, std::string &error);

} // namespace kestrune
