// The S-record text as the reader sees it: a sequence of reads, each taking
// the characters up to and including the next line feed, but at most 79.
// A longer line comes back as several reads. The bytes come from the
// source in large chunks, so reading a line costs no call to the system.
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
  // The most characters one read takes (the 80-character line buffer less
  // its terminating NUL).
  static constexpr size_t MaxRead = 79;

  explicit MotInput(size_t chunkSize = size_t{1} << 20);
  virtual ~MotInput() = default;
  MotInput(const MotInput &) = delete;
  MotInput &operator=(const MotInput &) = delete;

  // The next read, valid until the next call. False at the end of the input
  // or after a read error, which ends a pass in the same way (see Failed()).
  bool NextLine(std::string_view &line);

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
  void Refill();

  std::vector<char> Buffer;
  size_t Begin = 0; // first unread byte
  size_t End = 0;   // one past the last byte read from the source
  bool SourceDone = false;
  bool ReadFailed = false;
  uint32_t ErrorCode = 0;
};

// Text held in memory (tests, fuzzing). The piece size only changes how
// much of the text each source read hands over, never the reads that come
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
