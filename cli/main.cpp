// kestrune-cli: the headless front end. Flashes the image into the handsets
// on up to 64 ports at once, or converts an S-record file.
#include "cli/ArgumentChecks.h"
#include "cli/Console.h"
#include "cli/ConvertCommand.h"
#include "cli/FlashCommand.h"
#include "cli/JobCommand.h"
#include "cli/StationOptions.h"
#include "cli/StopSignals.h"
#ifdef KESTRUNE_HAVE_RECORDS
#include "cli/RecordsOptions.h"
#endif
#ifdef KESTRUNE_HAVE_SERIAL
#include "cli/SerialOptions.h"
#endif
#ifdef KESTRUNE_HAVE_JOB_COUNT
#include "cli/JobUnits.h"
#endif
#ifdef KESTRUNE_HAVE_SERIAL_COMMANDS
#include "cli/SerialCommand.h"
#endif
#include "engine/ChannelRow.h"
#include "engine/LineSpeed.h"
#include "engine/RamProgramSource.h"
#include "engine/StationRows.h"
#include "platform/Utf8Paths.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>

using namespace kestrune;

namespace {

constexpr int UsageError = 2;

int Usage(const std::string &message) {
  std::cerr << "kestrune-cli: " << message << "\nRun 'kestrune-cli --help' for usage.\n";
  return UsageError;
}

} // namespace

int main(int argc, char **argv) {
#ifdef SIGPIPE
  // A closed standard output (kestrune-cli ... | head) must not end the
  // runs half way: writes to it fail quietly and the runs go on.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  Utf8Arguments arguments(argc, argv);
  argc = arguments.Count();
  argv = arguments.Values();
  PrepareConsole();
  CLI::App app{"Flashes firmware into up to 64 handsets at once, one per serial port.",
               "kestrune-cli"};
  app.footer("Usage: kestrune-cli [--speed 115K|460K|920K] --image FILE [--verbose]\n"
             "                   [--summary FILE] [--repeat N [--swap-silence SECONDS]]\n"
             "                   [--json] [--serial SCHEME.json [--serial-lease N]] PORT...\n"
             "       kestrune-cli --job JOB.json [--trusted-keys DIR] [--allow-unsigned-jobs] PORT...\n"
             "       kestrune-cli convert FILE\n"
             "       kestrune-cli job keygen|sign|verify ...\n"
#ifdef KESTRUNE_HAVE_JOB_COUNT
             "       kestrune-cli job status|release --job JOB.json [--records URL|FILE] "
             "[--station S]\n"
#endif
#ifdef KESTRUNE_HAVE_RECORDS
             "       kestrune-cli records [--records URL|FILE] [--since TIME] [--station S] "
             "[--serial-value V] [--job NAME [--job-version V]] [--format table|csv|json]\n"
#endif
#ifdef KESTRUNE_HAVE_SERIAL_COMMANDS
             "       kestrune-cli serial status --serial SCHEME.json [--records URL|FILE] "
             "[--station S]\n"
             "       kestrune-cli serial release-lease --station S --serial SCHEME.json "
             "--records URL\n"
#endif
             "Exit status: 0 every channel completed, 1 a channel failed or was stopped (or the "
             "summary could not be written), 2 usage error, 3 the job's count of units is "
             "reached (no unit failed).\n"
             + std::string(StopRequestsText) + " stop every channel.");
  std::string speed = "920K";
  FlashOptions options;
  app.add_option("--speed", speed, "Line speed for all channels: 115K, 460K or 920K");
  app.add_option("--image", options.Image, "Image to send: S-record, .bif or .bin");
  app.add_flag("--verbose", options.Verbose, "Also show each channel's status colour");
  app.add_option("--summary", options.SummaryFile,
                 "Write one tab-separated line per channel: channel, port, outcome, seconds, "
                 "last text");
  std::optional<uint32_t> repeatRuns;
  double swapSilence = double(DefaultSwapSilence.count()) / 1000.0;
  app.add_option("--repeat", repeatRuns,
                 "Repeat mode: N runs per channel, 0 until stopped; after each run the channel "
                 "waits for the next handset");
  app.add_option("--swap-silence", swapSilence,
                 "Repeat mode: seconds the boot ROM call must go unanswered before the next "
                 "handset counts (default 1)")
      ->check(CLI::Range(0.05, 3600.0));
  app.add_flag("--json", options.Json,
               "Print one JSON object per line for every event instead of text lines");
  StationCliOptions stationOptions;
  AddStationOptions(app, stationOptions);
#ifdef KESTRUNE_HAVE_RECORDS
  RecordsCliOptions recordsOptions;
  AddRecordsOptions(app, recordsOptions);
#endif
#ifdef KESTRUNE_HAVE_SERIAL
  SerialCliOptions serialOptions;
  AddSerialOptions(app, serialOptions);
#endif
  std::string jobFile;
  std::string trustedKeys;
  bool allowUnsigned = false;
  app.add_option("--job", jobFile,
                 "Flash the signed production job in this file: its image, RAM program and "
                 "settings, nothing else");
  app.add_option("--trusted-keys", trustedKeys,
                 "With --job: trust the public keys (*.pem) in this folder instead of the "
                 "station's own folders");
  app.add_flag("--allow-unsigned-jobs", allowUnsigned, "With --job: accept a job without a signature");
  app.add_option("PORT", options.Ports, "Serial ports, channel 1 first (at most 64)");

  std::string convertFile;
  CLI::App *convert = app.add_subcommand("convert", "Convert an S-record file into its .bif");
  convert->add_option("FILE", convertFile, "S-record, .bif or .bin file")->required();

#ifdef KESTRUNE_HAVE_RECORDS
  RecordsListOptions listOptions;
  CLI::App *recordsCommand = AddRecordsCommand(app, listOptions);
#endif
#ifdef KESTRUNE_HAVE_SERIAL_COMMANDS
  SerialCommandOptions serialCommandOptions;
  SerialCommands serialCommands = AddSerialCommands(app, serialCommandOptions);
#endif

  JobCliOptions jobOptions;
  CLI::App *jobCommand = AddJobCommand(app, jobOptions);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    return Usage(e.what());
  }

  if (convert->parsed()) {
    for (const char *flashOption : {"--speed", "--image", "--verbose", "--summary", "--repeat",
                                    "--swap-silence", "--json", "--watchdog", "--resend-limit",
                                    "--ram-program", "PORT"})
      if (app.count(flashOption) > 0)
        return Usage(std::string("convert takes a file only, not ") +
                     (std::strcmp(flashOption, "PORT") == 0 ? "ports" : flashOption));
#ifdef KESTRUNE_HAVE_SERIAL
    for (const char *serialOption : {"--serial", "--serial-lease"})
      if (app.count(serialOption) > 0)
        return Usage(std::string("convert takes a file only, not ") + serialOption);
#endif
    return RunConvert(convertFile, std::cout);
  }
  if (jobCommand->parsed())
    return RunJobCommand(jobOptions, std::cout, std::cerr);
#ifdef KESTRUNE_HAVE_RECORDS
  if (recordsCommand->parsed())
    return RunRecordsCommand(listOptions, std::cout, std::cerr);
#endif
#ifdef KESTRUNE_HAVE_SERIAL_COMMANDS
  if (serialCommands.Status->parsed() || serialCommands.ReleaseLease->parsed())
    return RunSerialCommand(serialCommands, serialCommandOptions, ReadSchemePools, std::cout,
                            std::cerr);
#endif

  std::optional<job::JobFile> job;
  if (jobFile.empty() && (app.count("--trusted-keys") > 0 || allowUnsigned))
    return Usage("--trusted-keys and --allow-unsigned-jobs need --job");
  if (!jobFile.empty()) {
    for (const char *pinned : JobPinnedOptions()) {
      const CLI::Option *given = app.get_option_no_throw(pinned);
      if (given && given->count() > 0)
        return Usage(std::string("the job pins ") + pinned + "; it cannot be given with --job");
    }
    job.emplace();
    if (std::string problem = job::ReadJobFile(jobFile, *job); !problem.empty())
      return Usage(problem);
    if (!SignatureAllowsJob(*job, TrustedFolders(trustedKeys), allowUnsigned, std::cerr))
      return 1;
    options.Image = job->ImagePath;
    options.ImageSha256 = job->ImageSha256;
    options.JobTitle = job::JobTitle(*job);
    options.JobName = job->Name;
    options.JobVersion = job->Version;
    options.JobSha256 = job->FileSha256;
    speed = job->Speed;
    stationOptions.WatchdogSeconds = job->WatchdogSeconds;
    stationOptions.ResendLimit = job->ResendLimit;
    stationOptions.RamProgramFile = job->RamProgramPath;
    repeatRuns = job->Repeat;
    if (job->SwapSilenceSeconds)
      swapSilence = *job->SwapSilenceSeconds;
#ifdef KESTRUNE_HAVE_RECORDS
    recordsOptions.Target = job->Records;
    recordsOptions.Station = job->Station;
#endif
  }
  int row = SpeedRowForName(speed.c_str());
  if (row < 0)
    return Usage("unknown speed '" + speed + "' (use 115K, 460K or 920K)");
  options.SpeedRow = uint8_t(row);
  if (options.Ports.empty())
    return Usage("no port given");
  if (options.Ports.size() > StationChannelLimit)
    return Usage("at most " + std::to_string(StationChannelLimit) + " ports, one per channel");
  if (app.count("--swap-silence") > 0 && !repeatRuns)
    return Usage("--swap-silence needs --repeat");
  if (repeatRuns) {
    options.Repeat.On = true;
    options.Repeat.Runs = *repeatRuns;
    options.Repeat.SwapSilence = std::chrono::milliseconds(int64_t(swapSilence * 1000.0 + 0.5));
  }
  for (size_t i = 0; i < options.Ports.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (SamePort(options.Ports[i], options.Ports[j]))
        return Usage("port '" + options.Ports[i] + "' is named twice (channels " +
                     std::to_string(j + 1) + " and " + std::to_string(i + 1) + ")");
  // Without an image the handsets would be called and loaded, and then
  // left waiting in their RAM program for blocks that never come.
  if (options.Image.empty())
    return Usage("no image given (--image FILE)");
  if (!CanReadFileUtf8(options.Image)) {
    if (!job)
      return Usage("cannot read image '" + options.Image + "'");
    std::cerr << "kestrune-cli: job " << options.JobTitle << " refused: cannot read its image '"
              << options.Image << "'\n";
    return 1;
  }
  if (!options.SummaryFile.empty()) {
    std::string problem = SummaryProblem(options.SummaryFile);
    if (!problem.empty())
      return Usage("cannot write summary '" + options.SummaryFile + "': " + problem);
  }
  // A RAM program file that is not one is refused before any port opens.
  std::string stationProblem = ApplyStationOptions(stationOptions);
  if (!stationProblem.empty() && job) {
    std::cerr << "kestrune-cli: job " << options.JobTitle << " refused: " << stationProblem << '\n';
    return 1;
  }
  if (!stationProblem.empty())
    return Usage(stationProblem);
  if (job) {
    UseRamProgram(job->RamProgramPath.empty() ? nullptr : ChosenRamProgram());
    const std::string digest = RamProgramDigest(*ChosenRamProgram());
    if (!job->RamProgramPath.empty() && digest != job->RamProgramSha256) {
      std::cerr << "kestrune-cli: job " << options.JobTitle << " refused: RAM program '"
                << job->RamProgramPath << "' has SHA-256 " << digest << ", the job pins "
                << job->RamProgramSha256 << '\n';
      return 1;
    }
  }
  options.Progress = !options.Json && LiveLinesPossible();
#ifndef KESTRUNE_HAVE_JOB_COUNT
  if (job && job->Units) {
    std::cerr << "kestrune-cli: job " << options.JobTitle
              << " refused: it sets a count of units and this build cannot keep one\n";
    return 1;
  }
#endif
#ifndef KESTRUNE_HAVE_SERIAL
  if (job && job::HasSerialScheme(*job)) {
    std::cerr << "kestrune-cli: job " << options.JobTitle
              << " refused: it pins a serial scheme and this build writes no serial values\n";
    return 1;
  }
#endif
#ifdef KESTRUNE_HAVE_RECORDS
  std::string recordsProblem = RecordsTargetProblem(recordsOptions.Target);
  if (!recordsProblem.empty())
    return Usage(recordsProblem);
#ifdef KESTRUNE_HAVE_SERIAL
  // A scheme that cannot be read, or whose values do not fit their fields,
  // is refused before any port opens.
  if (app.count("--serial-lease") > 0 && serialOptions.Scheme.empty())
    return Usage("--serial-lease needs --serial");
  if (job) {
    // The job's scheme goes the way --serial's does: the same ledger, the
    // same checks; one that does not hold refuses the job.
    std::string problem =
        PrepareJobSerials(*job, serialOptions, recordsOptions, std::cerr, options.UnitValuesFor);
    if (!problem.empty()) {
      std::cerr << "kestrune-cli: job " << options.JobTitle << " refused: " << problem << '\n';
      return 1;
    }
  }
  std::string serialProblem =
      job ? std::string()
          : PrepareSerials(serialOptions, recordsOptions, std::cerr, options.UnitValuesFor);
  if (!serialProblem.empty())
    return Usage(serialProblem);
#endif
#ifdef KESTRUNE_HAVE_JOB_COUNT
  if (job) {
    std::string problem;
    std::shared_ptr<jobcount::JobCountGate> gate = PrepareJobCount(*job, recordsOptions, problem);
    if (!problem.empty()) {
      std::cerr << "kestrune-cli: job " << options.JobTitle << " refused: " << problem << '\n';
      return 1;
    }
    options.Gate = gate;
    options.AllBuilt = [gate] { return gate && gate->AllBuilt(); };
  }
#endif
  auto recorder = StartRecorder(recordsOptions, std::cerr);
  // While the channels run a stop request stops them; after that, while
  // the records are sent, it ends the wait on the server at once.
  StopSignals signals([keeper = recorder.get()] { keeper->CutShort(); });
  options.Records = recorder.get();
  options.Signals = &signals;
  // The line's dashboard sees this station's channels while they run.
  records::StationStateBoard stateBoard;
  auto stateWriter = StartStateWriter(*recorder, stateBoard, std::cerr);
  if (stateWriter)
    options.State = &stateBoard;
  int status = RunFlash(options, std::cout, std::cerr);
  if (stateWriter)
    stateWriter->Stop();
  // Every record is written before the program ends; sending waits briefly.
  recorder->Close();
  return status;
#else
  return RunFlash(options, std::cout, std::cerr);
#endif
}
