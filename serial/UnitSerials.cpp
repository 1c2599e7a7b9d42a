#include "serial/UnitSerials.h"

#include <algorithm>

namespace kestrune::serial {

std::shared_ptr<UnitSerials> UnitSerials::Make(std::shared_ptr<const SerialScheme> scheme,
                                               uint64_t startAddress, uint64_t imageSize,
                                               std::shared_ptr<SerialLedger> ledger,
                                               std::string station, std::string &error) {
  std::shared_ptr<UnitSerials> made(new UnitSerials);
  if (!PlaceFields(*scheme, startAddress, imageSize, made->Placed, error))
    return nullptr;
  made->Lowest = imageSize;
  for (const PlacedField &field : made->Placed)
    made->Lowest = std::min(made->Lowest, field.Offset);
  made->Scheme = std::move(scheme);
  made->Store = std::move(ledger);
  made->Station = std::move(station);
  return made;
}

std::vector<PoolRequest> UnitSerials::Requests() const {
  std::vector<PoolRequest> requests;
  for (const PlacedField &placed : Placed) {
    const SchemeField *field = placed.Field;
    PoolRequest request;
    request.Pool = field->Pool();
    request.Field = field->Name;
    request.Capacity = field->Source->Capacity();
    request.TextAt = [field](uint64_t position) {
      std::vector<uint8_t> bytes;
      std::string text, error;
      return field->ValueAt(position, bytes, text, error) ? text : std::string();
    };
    requests.push_back(std::move(request));
  }
  return requests;
}

bool UnitSerials::Claim(int channel, UnitValueClaim &claim, std::string &error) {
  serial::Claim taken;
  if (!Store->Claim(Requests(), Claimant{Station, channel}, taken, error))
    return false;
  claim = UnitValueClaim{};
  claim.Id = taken.Id;
  for (const PlacedField &placed : Placed) {
    auto value = std::find_if(taken.Values.begin(), taken.Values.end(),
                              [&](const ClaimedValue &v) { return v.Field == placed.Field->Name; });
    ValuePatch patch;
    patch.Offset = placed.Offset;
    std::string text;
    // Every value was checked against its field when the scheme was read;
    // one that fails now goes back unsent.
    if (value == taken.Values.end())
      error = "the ledger gave no value for serial field " + placed.Field->Name;
    if (value == taken.Values.end() ||
        !placed.Field->ValueAt(value->Position, patch.Bytes, text, error)) {
      std::string ignored;
      Store->Settle(taken, ClaimEnd::Returned, ignored);
      return false;
    }
    claim.Patches.push_back(std::move(patch));
    claim.Values.emplace_back(placed.Field->Name, text);
  }
  std::lock_guard lock(Mutex);
  Open[taken.Id] = std::move(taken);
  return true;
}

bool UnitSerials::Settle(const UnitValueClaim &claim, UnitValuesEnd end, std::string &error) {
  serial::Claim taken;
  {
    std::lock_guard lock(Mutex);
    auto it = Open.find(claim.Id);
    if (it == Open.end()) {
      error = "no such claim";
      return false;
    }
    taken = std::move(it->second);
    Open.erase(it);
  }
  ClaimEnd ledgerEnd = end == UnitValuesEnd::Passed  ? ClaimEnd::Passed
                       : end == UnitValuesEnd::Spent ? ClaimEnd::Spent
                                                     : ClaimEnd::Returned;
  return Store->Settle(taken, ledgerEnd, error);
}

} // namespace kestrune::serial
