// The S-record text as the reader sees it: a sequence of lines, each ended
// by a line feed, a carriage return and line feed, or a carriage return
// alone, or by the end of the input. Lines are numbered from 1. A line
// longer than MaxLine characters comes back as its first MaxLine
// characters, marked as cut; the rest of it is skipped. The bytes come from
// the source in large chunks, so reading a line costs no call to the system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrune {

class MotInput {
public:
  // Room for the longest record (count 255: 4 + 510 characters) with
  // plenty to spare for trailing blanks.
  static constexpr size_t MaxLine = 1024;

  explicit MotInput(size_t chunkSize = size_t{1} << 20);
  virtual ~MotInput() = default;
  MotInput(const MotInput &) = delete;
  MotInput &operator=(const MotInput &) = delete;

  // The next line without its line end, valid until the next call. False
  // at the end of the input or after a read error, which ends a pass in the
  // same way (see Failed()).
  bool NextLine(std::string_view &line);
  // Of the line NextLine gave last: its number, whether a line end followed
  // it (only the last line of the input and a cut line, whose end is not
  // seen yet, lack one), whether it was longer than MaxLine.
  uint64_t LineNumber() const { return Number; }
  bool LineEnded() const { return Ended; }
  bool LineCut() const { return Cut; }

  // Starts again at the first character. False with LastError() on failure.
  bool Rewind();

  bool Failed() const { return ReadFailed; }
  // The platform's error code of the failed read or rewind.
  uint32_t LastError() const { return ErrorCode; }

protected:
  // Reads up to room bytes into dest; received 0 means the end. False with
  // an error code when the source cannot be read.
  virtual bool ReadSource(char *dest, size_t room, size_t &received, uint32_t &error) = 0;
  virtual bool RewindSource(uint32_t &error) = 0;

private:
  // Reads until at least want bytes are unread or the source is done.
  void Refill(size_t want);
  // Skips the rest of a cut line and its line end.
  void SkipRestOfLine();
  // Takes the line end at Begin, if any; a carriage return may be followed
  // by a line feed that belongs to it.
  bool TakeLineEnd();

  std::vector<char> Buffer;
  size_t Begin = 0; // first unread byte
  size_t End = 0;   // one past the last byte read from the source
  bool SourceDone = false;
  bool ReadFailed = false;
  uint32_t ErrorCode = 0;
  uint64_t Number = 0;
  bool Ended = false;
  bool Cut = false;
};

// Text held in memory (tests, fuzzing). The piece size only changes how
// much of the text each source read hands over, never the lines that come
// out of NextLine.
class MotMemoryInput final : public MotInput {
public:
  explicit MotMemoryInput(std::string text, size_t pieceSize = 4096)
      : MotInput(4096), Text(std::move(text)), PieceSize(pieceSize > 0 ? pieceSize : 1) {}

protected:
  bool ReadSource(char *dest, size_t room, size_t &received, uint32_t &error) override;
  bool RewindSource(uint32_t &error) override;

private:
  std::string Text;
  size_t PieceSize;
  size_t Position = 0;
};

} // namespace kestrune
