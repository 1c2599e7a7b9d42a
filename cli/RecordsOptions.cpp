#include "cli/RecordsOptions.h"

#include "records/BoundedConnection.h"
#include "records/PgForwarder.h"
#include "records/PgRecords.h"
#include "records/RecordListing.h"
#include "records/RecordTime.h"
#include "records/RecordsLocation.h"
#include "records/SilenceWatch.h"
#include "records/SqliteStore.h"

#include <pqxx/pqxx>

#include <mutex>
#include <optional>
#include <thread>

namespace kestrune {
namespace {

// Records still waiting are sent before the server is asked for its list;
// this long at most.
constexpr std::chrono::milliseconds ForwardBeforeListing{10000};
// Longer than the server's own statement_timeout of 20 s: a statement the
// server works on ends by that first.
constexpr std::chrono::milliseconds ListingSilence{30000};

std::mutex ErrorsMutex;

void Say(std::ostream &errors, const std::string &text) {
  std::lock_guard lock(ErrorsMutex);
  errors << "kestrune-cli: " + text + "\n" << std::flush;
}

int ListLocal(const std::string &path, const records::RecordFilter &filter,
              records::ListFormat format, std::ostream &out, std::ostream &errors) {
  std::string why;
  auto store = records::SqliteStore::Open(path, why);
  if (!store) {
    Say(errors, "cannot read records: " + why);
    return 1;
  }
  records::ListingWriter writer(out, format);
  if (!store->ForEach(filter, [&writer](const records::Record &r) { writer.Add(r); }, why)) {
    Say(errors, "cannot read records: " + why);
    return 1;
  }
  writer.Finish();
  return 0;
}

// Lists the line's records from the server, a record at a time. Empty when
// done; otherwise why the server could not be listed, with written telling
// how many records went out before that.
std::string TryListServer(const std::string &url, const records::RecordFilter &filter,
                          records::ListFormat format, std::ostream &out, uint64_t &written) {
  records::ServerCut cut;
  // Opening has its own limit; after that a server that says nothing for
  // this long is taken as gone.
  std::optional<records::SilenceWatch> watch;
  try {
    records::BoundedConnection connection(records::WithClientLimits(url), &cut);
    // Its socket is no longer the cut's once the connection closes it.
    struct LetGo {
      records::ServerCut &Cut;
      ~LetGo() { Cut.SetSocket(-1); }
    } letGo{cut};
    watch.emplace(cut, ListingSilence);
    records::EnsurePgTable(connection);
    // Nothing is written before the first record came: a server that fails
    // first leaves the output to the station's own listing.
    std::optional<records::ListingWriter> writer;
    records::ForEachPg(connection, filter, [&](const records::Record &r) {
      if (!writer)
        writer.emplace(out, format);
      watch->Heard();
      writer->Add(r);
      ++written;
    });
    if (!writer)
      writer.emplace(out, format);
    writer->Finish();
    return {};
  } catch (const std::exception &failure) {
    if (watch && watch->Cut())
      return "the server said nothing for " + std::to_string(ListingSilence.count() / 1000) +
             " s";
    return records::WithoutPassword(records::ServerFailureText(failure), url);
  }
}

int ListServer(const std::string &url, const records::RecordFilter &filter,
               records::ListFormat format, std::ostream &out, std::ostream &errors) {
  // This station's records still waiting go first, so the list is whole.
  std::string local = records::DefaultRecordsPath();
  bool localReadable = false;
  std::string unanswered;
  if (!local.empty()) {
    std::string why;
    localReadable = bool(records::SqliteStore::Open(local, why));
    if (localReadable) {
      records::PgForwarder forwarder(url, local, [&](const std::string &t) { Say(errors, t); });
      auto until = std::chrono::steady_clock::now() + ForwardBeforeListing;
      while (!forwarder.Idle() && !forwarder.Failing() &&
             std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      // Its own notice said why; asking the server again would only wait as long.
      if (forwarder.Failing())
        unanswered = "the server did not take this station's records";
      forwarder.Stop(std::chrono::milliseconds(0));
    }
  }
  uint64_t written = 0;
  if (unanswered.empty())
    unanswered = TryListServer(url, filter, format, out, written);
  if (unanswered.empty())
    return 0;
  if (written > 0) {
    Say(errors, "the server stopped answering after " + std::to_string(written) +
                    " records (" + unanswered + "); the listing is cut short");
    return 1;
  }
  if (!localReadable) {
    Say(errors, "cannot read records from the server: " + unanswered);
    return 1;
  }
  // The station's own records stand in, and the note says they are not the
  // line's; the exit status says so too.
  Say(errors, "cannot read records from the server: " + unanswered + "; listed instead: "
              "this station's own records from " + local);
  ListLocal(local, filter, format, out, errors);
  return 1;
}

} // namespace

std::string RecordsTargetProblem(const std::string &target) {
  if (target.empty() || target == "none")
    return {};
  const bool looksLikeAddress = target.find("://") != std::string::npos ||
                                (target.find('=') != std::string::npos &&
                                 target.find(' ') != std::string::npos &&
                                 target.find_first_of("/\\") == std::string::npos);
  const bool server = records::IsServerUrl(target);
  if (server || looksLikeAddress) {
    std::string problem = server ? records::ServerAddressProblem(target)
                                 : "use a postgresql:// URL or libpq's host=... dbname=... form";
    if (problem.empty())
      return {};
    return "--records '" + records::WithoutPassword(target, target) +
           "' is neither a server address libpq reads nor a file: " + problem;
  }
  return {};
}

void AddRecordsOptions(CLI::App &app, RecordsCliOptions &options) {
  app.add_option("--records", options.Target,
                 "Where run records go: a postgresql:// URL (kept here and sent to that "
                 "server), a database file, or none (default: the data folder's "
                 "Orv/Kestrune/records.sqlite)");
  app.add_option("--station", options.Station, "This station's name in the records "
                                               "(default: the host name)");
}

std::unique_ptr<records::Recorder> StartRecorder(const RecordsCliOptions &options,
                                                 std::ostream &errors) {
  return std::make_unique<records::Recorder>(records::RecorderOptions{
      options.Target, options.Station, [&errors](const std::string &t) { Say(errors, t); }});
}

std::unique_ptr<records::StateWriter> StartStateWriter(const records::Recorder &recorder,
                                                       const records::StationStateBoard &board,
                                                       std::ostream &errors) {
  if (!records::IsServerUrl(recorder.ServerUrl()))
    return nullptr;
  return std::make_unique<records::StateWriter>(
      recorder.ServerUrl(), recorder.Station(), board,
      [&errors](const std::string &t) { Say(errors, t); });
}

CLI::App *AddRecordsCommand(CLI::App &app, RecordsListOptions &options) {
  CLI::App *command = app.add_subcommand("records", "List the run records, newest first, and a "
                                                    "summary per station and channel");
  command->add_option("--records", options.Target,
                      "A postgresql:// URL (the line's records) or a database file "
                      "(default: this station's)");
  command->add_option("--since", options.Since,
                      "Only runs started at or after this UTC time (2026-12-08, "
                      "2026-12-08T06:00, ...)");
  command->add_option("--station", options.Station, "Only this station's runs");
  command->add_option("--serial-value", options.Serial,
                      "Only the runs that wrote this serial value into their unit "
                      "(as records show it, e.g. 0000001000)");
  command->add_option("--job", options.JobName,
                      "Only the runs of the production job of this name, every version");
  command->add_option("--job-version", options.JobVersion,
                      "With --job: only the runs of this version of the job");
  command->add_option("--format", options.Format, "table, csv or json");
  return command;
}

int RunRecordsCommand(const RecordsListOptions &options, std::ostream &out,
                      std::ostream &errors) {
  auto format = records::ListFormatFromName(options.Format);
  if (!format) {
    Say(errors, "unknown format '" + options.Format + "' (use table, csv or json)");
    return 2;
  }
  records::RecordFilter filter;
  filter.Station = options.Station;
  filter.Serial = options.Serial;
  if (!options.JobVersion.empty() && options.JobName.empty()) {
    Say(errors, "--job-version needs --job");
    return 2;
  }
  filter.JobName = options.JobName;
  filter.JobVersion = options.JobVersion;
  if (!options.Since.empty()) {
    auto since = records::NormaliseSince(options.Since);
    if (!since) {
      Say(errors, "cannot read the time '" + options.Since + "' (use 2026-12-08 or "
                  "2026-12-08T06:00:00, UTC)");
      return 2;
    }
    filter.Since = *since;
  }
  if (options.Target == "none") {
    Say(errors, "no records to list with --records none");
    return 2;
  }
  std::string problem = RecordsTargetProblem(options.Target);
  if (!problem.empty()) {
    Say(errors, problem);
    return 2;
  }
  if (records::IsServerUrl(options.Target))
    return ListServer(options.Target, filter, *format, out, errors);
  std::string path = options.Target.empty() ? records::DefaultRecordsPath() : options.Target;
  if (path.empty()) {
    Say(errors, "no records file (neither XDG_DATA_HOME nor HOME is set)");
    return 1;
  }
  return ListLocal(path, filter, *format, out, errors);
}

} // namespace kestrune
