// The order in which Windows' port list is shown: by number, whatever the
// number's length, with names of other forms after the COM ports.
#include "platform/PortDiscovery.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(PortOrder, ComPortsGoByNumberThenOtherNamesByText) {
  std::vector<std::string> names{"COM10", "CNCA0", "COM2", "COM123", "COM1", "COM30",
                                 "COM2",  "com7",  "COM9", "BTHCOM"};
  SortPortNamesByNumber(names);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "com7", "COM9", "COM10", "COM30",
                                             "COM123", "BTHCOM", "CNCA0"}));
}

TEST(PortOrder, NumbersTooLongForAnyPortStillSortAfterShortOnes) {
  std::vector<std::string> names{"COM99999999999999999", "COM5", "COM"};
  SortPortNamesByNumber(names);
  EXPECT_EQ(names, (std::vector<std::string>{"COM5", "COM99999999999999999", "COM"}));
}

} // namespace
} // namespace kestrune
