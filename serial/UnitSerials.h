// A scheme placed in one image with the ledger its values come from: what
// a run plan carries to write each unit's values into it.
#pragma once

#include "engine/UnitValues.h"
#include "serial/SerialLedger.h"
#include "serial/SerialScheme.h"

#include <map>
#include <memory>
#include <mutex>

namespace kestrune::serial {

class UnitSerials final : public UnitValues {
public:
  // Null with the operator's text when the scheme does not fit the image.
  static std::shared_ptr<UnitSerials> Make(std::shared_ptr<const SerialScheme> scheme,
                                           uint64_t startAddress, uint64_t imageSize,
                                           std::shared_ptr<SerialLedger> ledger,
                                           std::string station, std::string &error);

  uint64_t LowestOffset() const override { return Lowest; }
  bool Claim(int channel, UnitValueClaim &claim, std::string &error) override;
  bool Settle(const UnitValueClaim &claim, UnitValuesEnd end, std::string &error) override;

  // One request per field, in the scheme's order, for the ledger's status.
  std::vector<PoolRequest> Requests() const;
  SerialLedger &Ledger() { return *Store; }

private:
  UnitSerials() = default;

  std::shared_ptr<const SerialScheme> Scheme;
  std::vector<PlacedField> Placed;
  uint64_t Lowest = 0;
  std::shared_ptr<SerialLedger> Store;
  std::string Station;
  // The ledger's claims not yet settled, by their handle.
  std::mutex Mutex;
  std::map<uint64_t, serial::Claim> Open;
};

} // namespace kestrune::serial
