// Values written into each unit (serial numbers, addresses): the worker
// claims one unit's values just before it sends the first block holding
// one, patches its own copy of every block before the block's sum, and
// settles the claim when the run's end is known. The shared image is never
// changed. Implemented outside the engine (the serial values module); a
// plan without it sends every unit the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

// Bytes replacing the image's at an offset from its first byte.
struct ValuePatch {
  uint64_t Offset = 0;
  std::vector<uint8_t> Bytes;
};

struct UnitValueClaim {
  uint64_t Id = 0; // the implementation's own handle
  std::vector<ValuePatch> Patches;
  std::vector<std::pair<std::string, std::string>> Values; // field name, its text
};

enum class UnitValuesEnd {
  Passed,   // the verdict passed: the values are used for good
  Spent,    // a block holding one was sent and the unit failed
  Returned, // no block holding one left the host
};

class UnitValues {
public:
  virtual ~UnitValues() = default;
  // The lowest offset any value is written at: the claim comes just before
  // the block holding it is first sent.
  virtual uint64_t LowestOffset() const = 0;
  // Called on the channel's worker thread, several channels at once.
  // False with the operator's text when no values can be had.
  virtual bool Claim(int channel, UnitValueClaim &claim, std::string &error) = 0;
  virtual bool Settle(const UnitValueClaim &claim, UnitValuesEnd end, std::string &error) = 0;
};

// Copies the patches' bytes that fall inside the block at blockOffset.
void PatchBlock(uint8_t *block, uint64_t blockOffset, uint32_t count,
                const std::vector<ValuePatch> &patches);
// Whether any patch falls inside the block.
bool BlockHoldsPatch(uint64_t blockOffset, uint32_t count, const std::vector<ValuePatch> &patches);
// SHA-256 (lower-case hex) of the file's bytes with the patches applied to
// its image, which starts at dataOffset.
std::string PatchedSha256(const std::vector<uint8_t> &file, uint64_t dataOffset,
                          const std::vector<ValuePatch> &patches);

} // namespace kestrune
