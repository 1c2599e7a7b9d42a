#include "engine/UnitValues.h"
#include "image/Sha256.h"

#include <algorithm>
#include <cstring>

namespace kestrune {

void PatchBlock(uint8_t *block, uint64_t blockOffset, uint32_t count,
                const std::vector<ValuePatch> &patches) {
  const uint64_t blockEnd = blockOffset + count;
  for (const ValuePatch &patch : patches) {
    uint64_t from = std::max(patch.Offset, blockOffset);
    uint64_t to = std::min(patch.Offset + patch.Bytes.size(), blockEnd);
    if (from < to)
      std::memcpy(block + (from - blockOffset), patch.Bytes.data() + (from - patch.Offset),
                  size_t(to - from));
  }
}

bool BlockHoldsPatch(uint64_t blockOffset, uint32_t count, const std::vector<ValuePatch> &patches) {
  return std::any_of(patches.begin(), patches.end(), [&](const ValuePatch &patch) {
    return patch.Offset < blockOffset + count && blockOffset < patch.Offset + patch.Bytes.size();
  });
}

std::string PatchedSha256(const std::vector<uint8_t> &file, uint64_t dataOffset,
                          const std::vector<ValuePatch> &patches) {
  Sha256 sum;
  // In pieces of 64 KiB, each patched on its own copy.
  constexpr uint64_t Piece = 64 * 1024;
  std::vector<uint8_t> piece;
  for (uint64_t at = 0; at < file.size(); at += Piece) {
    uint64_t count = std::min<uint64_t>(Piece, file.size() - at);
    piece.assign(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + count));
    if (at + count > dataOffset) {
      uint64_t imageAt = at > dataOffset ? at - dataOffset : 0;
      uint64_t skip = at > dataOffset ? 0 : dataOffset - at;
      PatchBlock(piece.data() + skip, imageAt, uint32_t(count - skip), patches);
    }
    sum.Add(piece.data(), piece.size());
  }
  return sum.HexDigest();
}

} // namespace kestrune
