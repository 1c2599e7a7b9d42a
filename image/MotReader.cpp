#include "image/MotReader.h"

#include "image/HexDigits.h"
#include "image/ImageLimits.h"
#include "image/MotRecord.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>

namespace kestrune {
namespace {

// The image data follows the header of the .bif.
constexpr uint64_t ImageDataOffset = BifHeaderSize;

std::string AddressText(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(address));
  return text;
}

std::string LineText(uint64_t line) { return "MOT file line " + std::to_string(line); }

// The address ranges that records have given so far, merged where they
// touch. Contiguous records keep it at one entry.
class CoveredRanges {
public:
  // Adds [from, to); true when it overlaps what was there.
  bool Add(uint64_t from, uint64_t to) {
    if (from == to)
      return false;
    // The usual case: the record continues the one before it.
    if (Last != Ranges.end() && Last->second == from) {
      auto next = std::next(Last);
      if (next == Ranges.end() || next->first > to) {
        Last->second = to;
        return false;
      }
    }
    bool overlaps = false;
    auto next = Ranges.upper_bound(from);
    if (next != Ranges.begin()) {
      auto previous = std::prev(next);
      if (previous->second > from)
        overlaps = true;
      if (previous->second >= from) {
        from = previous->first;
        to = std::max(to, previous->second);
        Ranges.erase(previous);
      }
    }
    while (next != Ranges.end() && next->first <= to) {
      if (next->first < to)
        overlaps = true;
      to = std::max(to, next->second);
      next = Ranges.erase(next);
    }
    Last = Ranges.emplace(from, to).first;
    return overlaps;
  }

private:
  std::map<uint64_t, uint64_t> Ranges;
  std::map<uint64_t, uint64_t>::iterator Last = Ranges.end();
};

// A kind of warning: the first line that gave it and how many did.
struct Occurrences {
  uint64_t FirstLine = 0;
  uint32_t FirstAddress = 0;
  uint64_t Count = 0;

  void Note(uint64_t line, uint32_t address) {
    if (Count++ == 0) {
      FirstLine = line;
      FirstAddress = address;
    }
  }
  std::string InAll() const {
    return Count > 1 ? " (" + std::to_string(Count) + " such records in all)" : "";
  }
};

} // namespace

MotScan ScanMotRange(MotInput &input) {
  MotScan scan;
  uint32_t highest = 0;
  uint32_t highestLength = 0;
  uint64_t furthest = 0;
  bool remembered = false;
  bool terminated = false;
  CoveredRanges covered;
  Occurrences overlaps;
  Occurrences pastTop;
  std::string_view line;
  while (input.NextLine(line)) {
    MotRecord record;
    std::string problem;
    MotLineKind kind =
        ParseMotLine(line, input.LineEnded(), input.LineCut(), record, problem);
    if (kind == MotLineKind::Bad) {
      scan.Error = "ERROR: " + LineText(input.LineNumber()) + ": " + problem;
      return scan;
    }
    if (kind == MotLineKind::Termination)
      terminated = true;
    if (kind != MotLineKind::Data)
      continue;
    if (RunsPastTop(record)) {
      pastTop.Note(input.LineNumber(), record.Address);
      continue;
    }
    const uint64_t reach = uint64_t{record.Address} + record.DataLength;
    if (covered.Add(record.Address, reach))
      overlaps.Note(input.LineNumber(), record.Address);
    if (!remembered || record.Address > highest) {
      remembered = true;
      highest = record.Address;
      highestLength = record.DataLength;
    }
    scan.Start = std::min(scan.Start, record.Address);
    furthest = std::max(furthest, reach);
  }
  if (input.Failed())
    return scan;
  if (remembered) {
    scan.End = highest + highestLength;
    scan.Extent = furthest - scan.Start;
  }
  if (!terminated)
    scan.Warnings.push_back("WARNING: MOT file has no termination record (S7, S8 or S9)");
  if (overlaps.Count > 0)
    scan.Warnings.push_back("WARNING: " + LineText(overlaps.FirstLine) + ": the record at " +
                            AddressText(overlaps.FirstAddress) +
                            " overlaps data of an earlier record; the later bytes are kept" +
                            overlaps.InAll());
  if (pastTop.Count > 0)
    scan.Warnings.push_back("WARNING: " + LineText(pastTop.FirstLine) + ": the record at " +
                            AddressText(pastTop.FirstAddress) +
                            " runs past address 0xFFFFFFFF and is skipped" + pastTop.InAll());
  return scan;
}

bool WriteMotImage(MotInput &input, ImageSink &image, uint32_t start, std::string &error) {
  error.clear();
  if (!image.Seek(ImageDataOffset))
    return false;
  uint64_t current = 0;
  uint8_t bytes[256];
  std::string_view line;
  while (input.NextLine(line)) {
    MotRecord record;
    std::string problem;
    MotLineKind kind =
        ParseMotLine(line, input.LineEnded(), input.LineCut(), record, problem);
    // The scan has checked every record and found none below start: the
    // text changed under the conversion.
    if (kind == MotLineKind::Bad || (kind == MotLineKind::Data && record.Address < start)) {
      error = "ERROR: MOT file changed during the conversion";
      return false;
    }
    if (kind != MotLineKind::Data || RunsPastTop(record))
      continue;
    uint64_t offset = record.Address - start;
    if (offset != current && !image.Seek(ImageDataOffset + offset))
      return false;
    for (uint32_t i = 0; i < record.DataLength; ++i)
      bytes[i] = HexByteValue(record.Data + 2 * i);
    if (!image.Write(bytes, record.DataLength))
      return false;
    current = offset + record.DataLength;
  }
  return image.Flush();
}

} // namespace kestrune
