// Runs that write serial values, against a scripted handset: the value in
// the blocks sent (re-sends included), and how each way a run ends settles
// the unit's values.
#include "engine/CommsThread.h"
#include "image/ImageDigest.h"
#include "serial/MemoryLedger.h"
#include "serial/UnitSerials.h"
#include "tests/support/FakeSerialPort.h"
#include "tests/support/TestPanel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace kestrune;
using namespace kestrune::serial;
using namespace kestrune::test;
using namespace std::chrono;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

constexpr uint8_t Ack = 0x21, Nak = 0x15;
constexpr uint32_t Block = 32768;
const Bytes EraseReportOk(131, Ack);

// Answers for the messages after the flash type request: 0 the start
// header, then one per block frame written.
using Answers = std::function<std::vector<Bytes>(size_t message)>;

// The boot ROM and RAM program's answers up to the programming, then the
// script's.
void Script(FakeSerialPort &port, Answers answers, std::vector<Bytes> &frames) {
  std::weak_ptr<FakeSerialPort::State> weak = port.Shared;
  auto phase = std::make_shared<int>(0);
  auto seen = std::make_shared<size_t>(0);
  auto message = std::make_shared<size_t>(0);
  auto previous = std::make_shared<Bytes>();
  port.Shared->SetResponder([=, &frames](const Bytes &bytes) {
    auto s = weak.lock();
    Bytes last = std::exchange(*previous, bytes);
    if (*phase == 0) {
      if (bytes == Bytes{0x45})
        s->Answer({0x43});
      if (bytes.size() == 256 && ++*seen == 23)
        s->Answer({Ack});
      if (bytes == Bytes{0x00} && last == Bytes{0x21} && *seen == 23) {
        for (int i = 0; i < 10; ++i)
          s->Answer({0x42});
        *seen = 24;
      }
      if (bytes == Bytes{0x01, 0x00, 0x00, 0x00} && *seen == 24)
        s->Answer({0x01});
      if (bytes == Bytes{0x00, 0xFE, 0x00, 0x00})
        *phase = 1;
      return;
    }
    if (*phase == 1) {
      s->Answer({Ack});
      *phase = 2;
      return;
    }
    if (bytes.size() < 8 && bytes != Bytes{0x01})
      return;
    if (*message > 0)
      frames.push_back(bytes);
    for (const Bytes &answer : answers((*message)++))
      s->Answer(answer);
  });
}

// A four-block image: the report follows block 2, the verdict block 4.
Answers Healthy() {
  return [](size_t message) -> std::vector<Bytes> {
    if (message == 2)
      return {EraseReportOk};
    return {{Ack}};
  };
}

Bytes Pattern(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i)
    b[i] = uint8_t(i * 31 + i / 256);
  return b;
}

std::shared_ptr<const ImageBytes> Image(const Bytes &data) {
  fs::path path = fs::temp_directory_path() / ("kestrune-serial-run-" + std::to_string(::getpid()) + ".bin");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data.data()),
                                               std::streamsize(data.size()));
  std::string error;
  auto image = ReadImageBytes(path.string(), IdentifyFile(path.string()), path.string(), true, error);
  fs::remove(path);
  EXPECT_TRUE(image) << error;
  return image;
}

// A ledger that hands a hook each claim as it is made.
class WatchedLedger final : public SerialLedger {
public:
  MemoryLedger Inner;
  std::function<void()> OnClaim;
  bool Claim(const std::vector<PoolRequest> &requests, const Claimant &who, serial::Claim &claim,
             std::string &error) override {
    bool ok = Inner.Claim(requests, who, claim, error);
    if (OnClaim)
      OnClaim();
    return ok;
  }
  bool Settle(const serial::Claim &claim, ClaimEnd end, std::string &error) override {
    return Inner.Settle(claim, end, error);
  }
  std::vector<PoolStatus> Status(const std::vector<PoolRequest> &requests) override {
    return Inner.Status(requests);
  }
};

// The serial number in block 2, the MAC address across blocks 3 and 4.
const std::string Fields =
    R"({"fields":[{"name":"sn","offset":"0x8010","length":6,"encoding":"ascii","counter":{"start":5,"step":5,"last":1000}},
                  {"name":"mac","offset":"0x17FFD","length":6,"encoding":"be","mac":{"first":"02:00:00:00:00:01","last":"02:00:00:00:ff:ff"}}]})";

struct SerialRun {
  Bytes Data = Pattern(4 * Block);
  std::shared_ptr<const ImageBytes> Shared = Image(Data);
  std::shared_ptr<WatchedLedger> Ledger = std::make_shared<WatchedLedger>();
  std::shared_ptr<UnitSerials> Values;

  SerialRun() {
    auto scheme = std::make_shared<SerialScheme>();
    std::string error;
    EXPECT_TRUE(ParseScheme(Fields, ".", *scheme, error)) << error;
    Values = UnitSerials::Make(scheme, 0, Data.size(), Ledger, "station-1", error);
    EXPECT_TRUE(Values) << error;
  }
  struct Unit {
    std::vector<Bytes> Frames;
    RunReport Report;
  };
  // One unit with the given answers; hook may act on the worker at claim.
  Unit Flash(Answers answers, std::function<void(TCommsThread *)> atClaim = nullptr) {
    Unit unit;
    WorkerHarness h;
    h.AddPanel("COM7");
    auto port = std::make_unique<FakeSerialPort>();
    Script(*port, std::move(answers), unit.Frames);
    RunPlan plan = PlanRun(Shared, 6);
    plan.Values = Values;
    std::atomic<TCommsThread *> worker{nullptr};
    if (atClaim)
      Ledger->OnClaim = [&] { atClaim(worker.load()); };
    worker = h.Start(1, std::move(plan), std::move(port));
    EXPECT_TRUE(h.ServeUntilAllEnded(seconds(20)));
    Ledger->OnClaim = nullptr;
    unit.Report = h.Panel(1).FinalReport;
    return unit;
  }
  std::vector<PoolStatus> Status() { return Ledger->Status(Values->Requests()); }
  // The image as the unit with these values must hold it.
  Bytes Expected(const std::string &sn, uint64_t mac) {
    Bytes expected = Data;
    std::copy(sn.begin(), sn.end(), expected.begin() + 0x8010);
    for (int i = 0; i < 6; ++i)
      expected[0x17FFD + size_t(i)] = uint8_t(mac >> (8 * (5 - i)));
    return expected;
  }
};

Bytes Payload(const Bytes &frame) { return Bytes(frame.begin() + 8, frame.end()); }

} // namespace

TEST(SerialRun, BlockResentAfterRefusalCarriesTheSameValue) {
  SerialRun run;
  // Block 2 is refused once after its erase report, then taken.
  Bytes refused = EraseReportOk;
  refused.push_back(Nak);
  auto unit = run.Flash([&](size_t message) -> std::vector<Bytes> {
    if (message == 2)
      return {refused};
    if (message == 3)
      return {EraseReportOk};
    return {{Ack}};
  });
  EXPECT_EQ(unit.Report.Outcome, RunOutcome::Passed) << unit.Report.FinalStatus;
  ASSERT_EQ(unit.Frames.size(), 5u); // 1, 2, 2, 3, 4
  EXPECT_EQ(unit.Frames[1], unit.Frames[2]);
  Bytes expected = run.Expected("000005", 0x020000000001ull);
  Bytes sent;
  for (size_t i : {0, 1, 3, 4}) {
    Bytes payload = Payload(unit.Frames[i]);
    sent.insert(sent.end(), payload.begin(), payload.end());
  }
  EXPECT_EQ(sent, expected);
  // The block sums cover the patched bytes.
  for (const Bytes &frame : unit.Frames) {
    uint16_t sum = 0;
    for (size_t i = 4; i < frame.size(); ++i)
      sum = uint16_t(sum + frame[i]);
    EXPECT_EQ(frame[2] << 8 | frame[3], sum);
  }
  EXPECT_EQ(run.Shared->File, run.Data); // the shared image stays as read
  EXPECT_EQ(unit.Report.Serials, (std::vector<std::pair<std::string, std::string>>{
                                     {"sn", "000005"}, {"mac", "02:00:00:00:00:01"}}));
  EXPECT_EQ(unit.Report.SentSha256, Sha256Hex(expected.data(), expected.size()));
  EXPECT_EQ(unit.Report.ImageSha256, run.Shared->Sha256);
  auto status = run.Status();
  EXPECT_EQ(status[0].Passed, 1u);
  EXPECT_EQ(status[1].Passed, 1u);
  EXPECT_EQ(status[0].NextText, "000010");
  // The next unit gets the next values.
  auto next = run.Flash(Healthy());
  EXPECT_EQ(next.Report.Serials[0].second, "000010");
  EXPECT_EQ(next.Report.Serials[1].second, "02:00:00:00:00:02");
}

TEST(SerialRun, UnitFailingAfterTheFieldWasSentSpendsItsValues) {
  SerialRun run;
  // The verdict on block 4 is a NAK with its record.
  auto unit = run.Flash([](size_t message) -> std::vector<Bytes> {
    if (message == 2)
      return {EraseReportOk};
    if (message == 4)
      return {{Nak}, {0, 0, 0, 1, 0, 0, 0, 0x30}};
    return {{Ack}};
  });
  EXPECT_EQ(unit.Report.Outcome, RunOutcome::Failed);
  EXPECT_EQ(unit.Report.Serials[0].second, "000005");
  auto status = run.Status();
  EXPECT_EQ(status[0].Spent, 1u);
  EXPECT_EQ(status[0].SpentTexts, std::vector<std::string>{"000005"});
  EXPECT_EQ(status[1].SpentTexts, std::vector<std::string>{"02:00:00:00:00:01"});
  EXPECT_EQ(status[0].Claimed, 0u);
  auto next = run.Flash(Healthy());
  EXPECT_EQ(next.Report.Serials[0].second, "000010");
}

TEST(SerialRun, UnitEndingBeforeTheFieldsBlockLeavesTheValuesFree) {
  SerialRun run;
  // Stopped while the ledger answered the claim: block 2 never goes.
  auto stopped = run.Flash(Healthy(), [](TCommsThread *worker) { worker->RequestStop(); });
  EXPECT_EQ(stopped.Report.Outcome, RunOutcome::Stopped);
  EXPECT_EQ(stopped.Frames.size(), 1u);
  auto status = run.Status();
  EXPECT_EQ(status[0].Claimed, 0u);
  EXPECT_EQ(status[0].Spent, 0u);
  EXPECT_EQ(status[0].NextText, "000005");
  // The values went back: the unit is not on record with them.
  EXPECT_TRUE(stopped.Report.Serials.empty());
  EXPECT_EQ(stopped.Report.SentSha256, run.Shared->Sha256);
  // A failed erase segment after block 2: block 3, where the first value
  // goes, is not reached and nothing is claimed.
  SerialRun later;
  later.Values = nullptr;
  auto scheme = std::make_shared<SerialScheme>();
  std::string error;
  ASSERT_TRUE(ParseScheme(R"({"fields":[{"name":"sn","offset":"0x10000","length":6,"encoding":"ascii",
                               "counter":{"start":5,"last":1000}}]})",
                          ".", *scheme, error));
  later.Values = UnitSerials::Make(scheme, 0, later.Data.size(), later.Ledger, "s", error);
  Bytes badSegment(4, Ack);
  badSegment.push_back(Nak);
  auto failed = later.Flash([&](size_t message) -> std::vector<Bytes> {
    if (message == 2)
      return {badSegment};
    return {{Ack}};
  });
  EXPECT_EQ(failed.Report.Outcome, RunOutcome::Failed);
  EXPECT_TRUE(failed.Report.Serials.empty());
  EXPECT_EQ(later.Status()[0].Left, 996u);
  EXPECT_EQ(later.Flash(Healthy()).Report.Serials[0].second, "000005");
}

TEST(SerialRun, UsedUpRangeEndsTheRunBeforeTheBlockAndUnsettledIsSaid) {
  SerialRun run;
  auto scheme = std::make_shared<SerialScheme>();
  std::string error;
  ASSERT_TRUE(ParseScheme(R"({"fields":[{"name":"sn","offset":"0x8010","length":2,"encoding":"ascii",
                               "counter":{"start":1,"last":1}}]})",
                          ".", *scheme, error));
  run.Values = UnitSerials::Make(scheme, 0, run.Data.size(), run.Ledger, "s", error);
  // The store fails on the first unit's settle: it passed, but the value
  // stays claimed, and the report says why.
  run.Ledger->Inner.FailSettles("disk I/O error");
  auto first = run.Flash(Healthy());
  EXPECT_EQ(first.Report.Outcome, RunOutcome::Passed);
  EXPECT_NE(first.Report.FinalStatus.find("serial values not settled: disk I/O error"),
            std::string::npos);
  EXPECT_EQ(run.Status()[0].Claimed, 1u);
  run.Ledger->Inner.FailSettles("");
  auto second = run.Flash(Healthy());
  EXPECT_EQ(second.Report.Outcome, RunOutcome::Failed);
  EXPECT_EQ(second.Report.FinalStatus, "ERROR Serial range of sn used up: all 1 values handed out (0)");
  EXPECT_EQ(second.Frames.size(), 1u); // block 2 was not sent
}
