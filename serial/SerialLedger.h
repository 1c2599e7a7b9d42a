// Where a station keeps which serial values are free, claimed, passed or
// spent. A scheme's field draws its values from a pool: an endless, ordered
// sequence of positions (0, 1, 2 ...) that the field's source turns into
// values. The ledger hands out positions, never the same one twice to units
// that could both pass, and gives back those whose block never left the
// host.
//
// Every call is made on a channel's worker thread, several channels at
// once; an implementation serialises them itself. A claim is durable when
// Claim returns: after a crash or a kill, a claim never settled counts as
// spent, since its unit may have passed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::serial {

// One field's request in a unit's claim.
struct PoolRequest {
  // Names the pool: the field's name and what fixes the value at each
  // position (its source and start), never its end, so that widening a
  // range keeps the positions already used.
  std::string Pool;
  std::string Field;     // the field's name, as records give it
  uint64_t Capacity = 0; // positions 0 .. Capacity-1 exist
  // The value at a position, as the field's text. The ledger keeps it and
  // refuses a text already passed or spent under the same field name, even
  // from another pool.
  std::function<std::string(uint64_t)> TextAt;
};

struct ClaimedValue {
  std::string Field;
  uint64_t Position = 0;
  std::string Text;
};

// All the values one unit was given, one per field, claimed together.
struct Claim {
  uint64_t Id = 0; // the ledger's own handle
  std::vector<ClaimedValue> Values;
};

enum class ClaimEnd {
  Passed,   // the unit's verdict passed: its values are used for good
  Spent,    // a block holding them was sent, and the unit failed
  Returned, // no block holding them left the host: free for the next unit
};

// Who claims, kept with the claim and shown by the status.
struct Claimant {
  std::string Station;
  int Channel = 0;
};

// A value sent to a unit that then failed: never handed out again.
struct SpentValue {
  std::string Text;
  std::string Station;
  int Channel = 0;
  std::string When; // an IsoUtcTime text
};

struct PoolStatus {
  std::string Pool;
  std::string Field;
  std::optional<std::string> NextText; // none once the range is used up
  uint64_t Left = 0;                   // positions not yet handed out
  // A line's figures could not be read: the next value and what is left
  // are those of this station's leases only, and none says nothing of the
  // line's range.
  bool StationOnly = false;
  uint64_t Passed = 0;
  uint64_t Spent = 0;
  uint64_t Claimed = 0; // claimed and not yet settled
  std::vector<std::string> Leases; // a line's leases, one line of text each
  std::vector<std::string> SpentTexts; // values spent on failed units
  std::vector<SpentValue> SpentOn;     // the same, with where and when
  // Positions never handed out since their text was passed or spent
  // already under the same field name (from another pool).
  uint64_t Skipped = 0;
  // A line's positions that were in a lease released by the command: the
  // station may have used them while away, so they are never handed out.
  uint64_t WrittenOff = 0;
};

class SerialLedger {
public:
  virtual ~SerialLedger() = default;

  // Claims the next free position of every request, in one step: either
  // all are claimed or none. Fails with the text to show the operator, for
  // a range used up ("Serial range of sn used up: ...") or a store that
  // cannot be written.
  virtual bool Claim(const std::vector<PoolRequest> &requests, const Claimant &who,
                     serial::Claim &claim, std::string &error) = 0;

  // Settles a claim once its run's end is known. False with the text when
  // the store cannot be written; the claim then stays claimed (so spent).
  virtual bool Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) = 0;

  // The state of the pools named, for the status command and the window.
  virtual std::vector<PoolStatus> Status(const std::vector<PoolRequest> &requests) = 0;
};

} // namespace kestrune::serial
