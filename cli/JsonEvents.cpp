#include "cli/JsonEvents.h"

#include "platform/IsoUtcTime.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace kestrune {

using nlohmann::json;

JsonEvents::JsonEvents(std::ostream &out, std::function<Clock::time_point()> clock)
    : Out(out), ClockFn(clock ? std::move(clock) : [] { return Clock::now(); }) {}

namespace {

json Head(const char *event, const std::string &time, int channel, const std::string &port) {
  return json{{"event", event}, {"time", time}, {"channel", channel}, {"port", port}};
}

// {"sn":"0000001000","mac":"02:00:00:00:00:01"}; {} when the unit got none.
json SerialsObject(const std::vector<std::pair<std::string, std::string>> &serials) {
  json object = json::object();
  for (const auto &[field, text] : serials)
    object[field] = text;
  return object;
}

} // namespace

void JsonEvents::RunStart(int channel, const std::string &port, uint32_t run) {
  json line = Head("run-start", IsoUtcTime(ClockFn()), channel, port);
  line["run"] = run;
  Write(line);
}

void JsonEvents::Status(int channel, const std::string &port, const std::string &text,
                        const std::string &meaning) {
  json line = Head("status", IsoUtcTime(ClockFn()), channel, port);
  line["text"] = text;
  if (!meaning.empty())
    line["meaning"] = meaning;
  Write(line);
}

void JsonEvents::Phase(int channel, const std::string &port, RunPhase phase) {
  json line = Head("phase", IsoUtcTime(ClockFn()), channel, port);
  line["phase"] = RunPhaseName(phase);
  Write(line);
}

void JsonEvents::Progress(int channel, const std::string &port, RunPhase phase, uint64_t sent,
                          uint64_t total) {
  json line = Head("progress", IsoUtcTime(ClockFn()), channel, port);
  line["phase"] = RunPhaseName(phase);
  line["sent"] = sent;
  line["total"] = total;
  Write(line);
}

void JsonEvents::Outcome(int channel, uint32_t run, const RunReport &report, bool endedWaiting) {
  json line = Head("outcome", IsoUtcTime(ClockFn()), channel, report.Port);
  line["run"] = run;
  line["outcome"] = RunOutcomeName(report.Outcome);
  line["text"] = report.FinalStatus;
  line["code"] = report.ErrorCode;
  line["seconds"] =
      std::chrono::duration<double>(report.Ended - report.Started).count();
  line["bytes"] = report.BytesSent;
  line["resent"] = report.BlocksResent;
  line["waiting"] = endedWaiting;
  line["unit"] = report.Unit;
  VisitRunUsed(report, [&line](const char *name, const auto &value) { line[name] = value; });
  line["serials"] = SerialsObject(report.Serials);
  Write(line);
}

void JsonEvents::Verdict(int channel, const std::string &port, uint32_t unit, uint32_t run,
                         RunOutcome outcome, const std::string &text,
                         const std::vector<std::pair<std::string, std::string>> &serials) {
  json line = Head("verdict", IsoUtcTime(ClockFn()), channel, port);
  line["unit"] = unit;
  line["run"] = run;
  line["outcome"] = RunOutcomeName(outcome);
  line["text"] = text;
  line["serials"] = SerialsObject(serials);
  Write(line);
}

void JsonEvents::Serials(int channel, const std::string &port,
                         const std::vector<std::pair<std::string, std::string>> &serials) {
  json line = Head("serials", IsoUtcTime(ClockFn()), channel, port);
  line["serials"] = SerialsObject(serials);
  Write(line);
}

void JsonEvents::End(int channel, const std::string &port, uint32_t passed, uint32_t failed,
                     const char *outcome) {
  json line = Head("end", IsoUtcTime(ClockFn()), channel, port);
  line["passed"] = passed;
  line["failed"] = failed;
  line["outcome"] = outcome;
  Write(line);
}

void JsonEvents::Write(const nlohmann::json &line) {
  // A text that is not valid UTF-8 (a port name, say) gets replacement
  // characters rather than ending the program.
  std::string text = line.dump(-1, ' ', false, json::error_handler_t::replace);
  std::lock_guard lock(Mutex);
  Out << text << '\n' << std::flush;
}

} // namespace kestrune
