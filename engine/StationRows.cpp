#include "engine/StationRows.h"

#include <array>
#include <string>

namespace kestrune {
namespace {

// Texts of the rows beyond eight, kept for the life of the program.
struct ExtraRow {
  std::string Suffix;
  std::string WorkerClass;
};

struct ExtraRows {
  std::array<ExtraRow, StationChannelLimit> Texts;
  std::array<ChannelRow, StationChannelLimit> Rows{};

  ExtraRows() {
    for (size_t i = ChannelCount; i < StationChannelLimit; ++i) {
      Texts[i].Suffix = std::to_string(i);
      Texts[i].WorkerClass = "TCommsThread" + Texts[i].Suffix;
      Rows[i] = ChannelRow{int(i + 1), Texts[i].Suffix.c_str(), Texts[i].WorkerClass.c_str(),
                           "", "", "COMM Closed", ""};
    }
  }
};

} // namespace

const ChannelRow &StationRow(size_t index) {
  if (index < size_t(ChannelCount))
    return ChannelRows[index];
  static const ExtraRows extra;
  return extra.Rows.at(index);
}

} // namespace kestrune
