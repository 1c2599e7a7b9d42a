#include "image/BifConversion.h"

#include "image/FileImageSink.h"
#include "image/ImageNames.h"
#include "image/ImageState.h"
#include "image/LoadFailure.h"
#include "image/MotReader.h"

namespace kestrune {
namespace {

std::string RangeText(uint32_t start, uint32_t end) {
  return "Start 0x" + Hex6(start) + ", End 0x" + Hex6(end);
}

void PutLittleEndian(uint8_t *at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    at[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Writes header, fill and records into the open file; false when the input
// could not be read or the file written, with the status text set.
bool WriteBif(MotInput &input, FileWriter &writer, uint32_t start, uint32_t end) {
  FileImageSink image(writer);
  uint8_t header[8];
  PutLittleEndian(header, start);
  PutLittleEndian(header + 4, end);
  if (!image.Write(header, sizeof header)) {
    FailLoadWithCode("ERROR: Cannot write BIF file", image.LastError());
    return false;
  }
  LoadStatusText.Set("Converting MOT file");
  if (!image.Fill(0xFF, end - start)) {
    FailLoadWithCode("ERROR: Cannot write BIF file", image.LastError());
    return false;
  }
  if (!input.Rewind()) {
    FailLoadWithCode("ERROR: Cannot read MOT file", input.LastError());
    return false;
  }
  bool written = WriteMotImage(input, image, start);
  if (input.Failed()) {
    FailLoadWithCode("ERROR: Cannot read MOT file", input.LastError());
    return false;
  }
  if (!written) {
    FailLoadWithCode("ERROR: Cannot write BIF file", image.LastError());
    return false;
  }
  return true;
}

// Puts the finished file in place: on disk, with the S-record file's time,
// under the .bif name.
bool CommitBif(FileWriter &writer, const std::string &bifName, const FatTime &motTime) {
  if (!writer.SyncToDisk() || !writer.Close()) {
    FailLoadWithCode("ERROR: Cannot write BIF file", writer.LastError());
    return false;
  }
  uint32_t error = 0;
  if (!SetLastWriteFatTime(writer.Path(), motTime, error)) {
    FailLoadWithCode("ERROR: Cannot set BIF file time", error);
    return false;
  }
  if (!ReplaceFileWith(writer.Path(), bifName, error)) {
    FailLoadWithCode("ERROR: Cannot replace BIF file", error);
    return false;
  }
  return true;
}

} // namespace

int ConvertMotToBif(MotInput &input, const std::string &bifName, const FatTime &motTime,
                    FileWriter &writer) {
  uint32_t start = 0;
  uint32_t end = ScanMotRange(input, start);
  if (input.Failed())
    return FailLoadWithCode("ERROR: Cannot read MOT file", input.LastError());
  if (start > end)
    return FailLoad("ERROR: No S1/S2/S3 data record in MOT file");
  LoadStatusText.Set(RangeText(start, end));

  if (!writer.CreateUnique(bifName))
    return FailLoad("ERROR: Cannot open BIF file for writing");
  if (!WriteBif(input, writer, start, end) || !CommitBif(writer, bifName, motTime)) {
    writer.Close();
    RemoveFile(writer.Path());
    return 1;
  }
  LoadStatusText.Set("Completed MOT conversion, " + RangeText(start, end));
  return 0;
}

} // namespace kestrune
