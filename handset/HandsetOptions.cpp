#include "handset/HandsetOptions.h"

#include <array>
#include <utility>

namespace kestrune::handset {
namespace {

constexpr std::array<std::pair<Phase, const char *>, 11> Names{{
    {Phase::None, "none"},
    {Phase::Boot, "boot"},
    {Phase::RamProgram, "ramprogram"},
    {Phase::Speed, "speed"},
    {Phase::Id, "id"},
    {Phase::Map, "map"},
    {Phase::FlashType, "flashtype"},
    {Phase::Start, "start"},
    {Phase::Blocks, "blocks"},
    {Phase::Erase, "erase"},
    {Phase::Verdict, "verdict"},
}};

} // namespace

const char *PhaseName(Phase phase) {
  for (const auto &[p, name] : Names)
    if (p == phase)
      return name;
  return "?";
}

std::optional<Phase> PhaseFromName(const std::string &name) {
  for (const auto &[p, text] : Names)
    if (name == text)
      return p;
  return std::nullopt;
}

std::string PhaseNames() {
  std::string list;
  for (const auto &[p, name] : Names) {
    if (p == Phase::None)
      continue;
    if (!list.empty())
      list += ", ";
    list += name;
  }
  return list;
}

FlashTiming RealisticTiming() { return FlashTiming{700000, 300000, 12}; }

} // namespace kestrune::handset
