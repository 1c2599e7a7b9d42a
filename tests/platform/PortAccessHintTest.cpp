// The dialout hint beside a refused port: it follows the worker's own text
// for a failed open, and only when the open was refused for lack of rights.
#include "platform/PortAccessHint.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/TestPanel.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace kestrune;
using namespace kestrune::test;
using Op = FakeSerialPort::Op;

namespace {

// The status text a worker shows when its port's open fails with `error`.
std::string OpenFailureText(uint32_t error) {
  WorkerHarness h;
  TestPanel &panel = h.AddPanel("/dev/ttyUSB0");
  auto port = std::make_unique<FakeSerialPort>();
  port->Shared->Failures[Op::Open] = error;
  h.Start(1, std::move(port));
  EXPECT_TRUE(h.ServeUntilAllEnded());
  return panel.LastText();
}

TEST(PortAccessHint, RefusedOpenNamesTheDialoutGroup) {
#ifdef _WIN32
  // Windows refuses a port that another program holds with "access
  // denied" (5): there is no group to join.
  EXPECT_EQ(PortAccessHint(OpenFailureText(5)), "");
#else
  std::string hint = PortAccessHint(OpenFailureText(EACCES));
  EXPECT_NE(hint.find("dialout"), std::string::npos) << hint;
#endif
}

TEST(PortAccessHint, OtherFailuresAndTextsHaveNone) {
  for (uint32_t error : {uint32_t(ENOENT), uint32_t(EBUSY), uint32_t(EPERM)})
    EXPECT_EQ(PortAccessHint(OpenFailureText(error)), "") << error;
  const std::string denied = "(" + std::to_string(EACCES) + ")";
  EXPECT_EQ(PortAccessHint("ERROR Could not write to COMM port " + denied), "");
  EXPECT_EQ(PortAccessHint("Opened COMM port"), "");
  EXPECT_EQ(PortAccessHint(""), "");
}

} // namespace
