#include "image/BifConversion.h"

#include "image/ByteOrder.h"

#include "image/FileImageSink.h"
#include "image/ImageLimits.h"
#include "image/ImageNames.h"
#include "image/ImageState.h"
#include "image/LoadFailure.h"
#include "image/MotReader.h"

namespace kestrune {
namespace {

std::string RangeText(uint32_t start, uint32_t end) {
  return "Start 0x" + Hex6(start) + ", End 0x" + Hex6(end);
}

// Writes header, fill and records into the open file; false when the input
// could not be read or the file written, with the status text set.
bool WriteBif(MotInput &input, FileWriter &writer, uint32_t start, uint32_t end) {
  FileImageSink image(writer);
  uint8_t header[BifHeaderSize];
  WriteLittleEndian32(header, start);
  WriteLittleEndian32(header + 4, end);
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
  std::string changed;
  bool written = WriteMotImage(input, image, start, changed);
  if (input.Failed()) {
    FailLoadWithCode("ERROR: Cannot read MOT file", input.LastError());
    return false;
  }
  if (!changed.empty()) {
    FailLoad(changed);
    return false;
  }
  if (!written) {
    FailLoadWithCode("ERROR: Cannot write BIF file", image.LastError());
    return false;
  }
  return true;
}

// Puts the finished file in place: on disk, with the S-record file's time,
// under the .bif name, unless the S-record file changed meanwhile. The
// file stays open, and so locked, until it has its name.
bool CommitBif(FileWriter &writer, const std::string &motPath, const FileClock &motWritten,
               const std::string &bifName, const FatTime &motTime) {
  if (!writer.SyncToDisk()) {
    FailLoadWithCode("ERROR: Cannot write BIF file", writer.LastError());
    return false;
  }
  uint32_t error = 0;
  if (!SetLastWriteFatTime(writer.Path(), motTime, error)) {
    FailLoadWithCode("ERROR: Cannot set BIF file time", error);
    return false;
  }
  FileClock written;
  FileClock changed;
  if (!GetFileClocks(motPath, written, changed, error) || written != motWritten) {
    FailLoad("ERROR: MOT file changed during the conversion");
    return false;
  }
  if (!ReplaceFileWith(writer.Path(), bifName, error)) {
    FailLoadWithCode("ERROR: Cannot replace BIF file", error);
    return false;
  }
  if (!writer.Close()) {
    FailLoadWithCode("ERROR: Cannot write BIF file", writer.LastError());
    return false;
  }
  return true;
}

} // namespace

int ConvertMotToBif(MotInput &input, const std::string &motPath, const std::string &bifName,
                    const FatTime &motTime, FileWriter &writer) {
  FileClock motWritten;
  FileClock motChanged;
  uint32_t error = 0;
  if (!GetFileClocks(motPath, motWritten, motChanged, error))
    return FailLoadWithCode("ERROR: Cannot read MOT file time", error);
  MotScan scan = ScanMotRange(input);
  if (input.Failed())
    return FailLoadWithCode("ERROR: Cannot read MOT file", input.LastError());
  if (!scan.Error.empty())
    return FailLoad(scan.Error);
  if (scan.Start > scan.End)
    return FailLoad("ERROR: No S1/S2/S3 data record in MOT file");
  LoadWarnings.Set(scan.Warnings);
  if (scan.Extent > MaxImageBytes)
    return FailLoad(ImageTooLargeText(scan.Extent));
  LoadStatusText.Set(RangeText(scan.Start, scan.End));

  RemoveDeadTemporaries(bifName);
  if (!writer.CreateUnique(bifName))
    return FailLoadWithCode("ERROR: Cannot open BIF file for writing", writer.LastError());
  if (!WriteBif(input, writer, scan.Start, scan.End) ||
      !CommitBif(writer, motPath, motWritten, bifName, motTime)) {
    RemoveFile(writer.Path());
    writer.Close();
    return 1;
  }
  LoadStatusText.Set("Completed MOT conversion, " + RangeText(scan.Start, scan.End));
  return 0;
}

} // namespace kestrune
