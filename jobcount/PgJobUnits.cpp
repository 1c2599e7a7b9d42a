#include "jobcount/JobUnitStore.h"

#include "jobcount/CutOnStop.h"

#include "records/BoundedConnection.h"
#include "records/PgRecords.h"
#include "records/ServerAddress.h"
#include "serial/ProcessAlive.h"

#include <pqxx/pqxx>

namespace kestrune::jobcount {
namespace {

const char *const CreateTable = R"sql(
CREATE TABLE IF NOT EXISTS kestrune_job_units (
  id bigserial PRIMARY KEY,
  job_name text NOT NULL,
  job_version text NOT NULL,
  state text NOT NULL,
  station text NOT NULL,
  process bigint NOT NULL,
  channel integer NOT NULL,
  at timestamptz NOT NULL DEFAULT now()
);
CREATE INDEX IF NOT EXISTS kestrune_job_units_job ON kestrune_job_units (job_name, job_version);
)sql";

// Any number, taken by every client that creates the table.
constexpr long long TableLock = 0x4B65374A;

class PgJobUnits : public JobUnitStore {
public:
  // Every call keeps the client limits the records' forwarder keeps.
  PgJobUnits(const std::string &url, JobKey key)
      : Url(records::WithClientLimits(url)), Given(url), Key(std::move(key)) {}

  std::string Failure(const std::exception &failure) const {
    return "the line's server: " +
           records::WithoutPassword(records::ServerFailureText(failure), Given);
  }

  // Makes the table where missing. Places this station's programs that no
  // longer run left under way are counted as built from then on: whether
  // their unit passed cannot be known, and the count must not be passed.
  void Prepare(bool findEnded = true) {
    records::BoundedConnection connection(Url, nullptr);
    pqxx::work work(connection);
    work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(TableLock) + ")");
    work.exec(CreateTable);
    if (!findEnded) {
      work.commit();
      return;
    }
    pqxx::result rows = work.exec("SELECT id, process FROM kestrune_job_units WHERE state = "
                                  "'flight' AND station = " +
                                  work.quote(Key.Station));
    for (const auto &row : rows)
      if (!serial::ProcessAlive(row[1].as<int64_t>()))
        work.exec("UPDATE kestrune_job_units SET state = 'lost' WHERE id = " +
                  work.quote(row[0].as<int64_t>()));
    work.commit();
  }

  bool Take(int channel, UnitPlace &place, std::string &why,
            const std::atomic<bool> *stop) override {
    place = UnitPlace{};
    // A stop shuts the connection: the server ends the transaction with
    // it, so nothing taken in it stays.
    records::ServerCut cut;
    CutOnStop watch(cut, stop);
    try {
      records::BoundedConnection connection(Url, &cut);
      pqxx::work work(connection);
      // One job's places are taken one at a time, by every station.
      work.exec("SELECT pg_advisory_xact_lock(hashtext(" + work.quote(Key.Name + "\n" + Key.Version) +
                "))");
      pqxx::row counts = work.exec1(
          "SELECT count(*) FILTER (WHERE state <> 'flight'), count(*) FILTER (WHERE state = "
          "'flight') FROM kestrune_job_units WHERE job_name = " +
          work.quote(Key.Name) + " AND job_version = " + work.quote(Key.Version));
      const uint64_t passed = counts[0].as<uint64_t>(), underWay = counts[1].as<uint64_t>();
      int64_t ticket = 0;
      if (passed + underWay < Key.Units)
        ticket = work.exec1("INSERT INTO kestrune_job_units (job_name, job_version, state, "
                            "station, process, channel) VALUES (" +
                            work.quote(Key.Name) + "," + work.quote(Key.Version) + ",'flight'," +
                            work.quote(Key.Station) + "," +
                            work.quote(serial::CurrentProcessId()) + "," + work.quote(channel) +
                            ") RETURNING id")[0]
                     .as<int64_t>();
      work.commit();
      place.Passed = passed;
      place.UnderWay = underWay;
      place.Taken = ticket != 0;
      place.Ticket = ticket;
      return true;
    } catch (const std::exception &failure) {
      place = UnitPlace{};
      place.Stopped = watch.Cut();
      why = place.Stopped ? "stopped" : Failure(failure);
      return false;
    }
  }

  bool Settle(int64_t ticket, bool passed, std::string &why) override {
    try {
      records::BoundedConnection connection(Url, nullptr);
      pqxx::work work(connection);
      work.exec(passed ? "UPDATE kestrune_job_units SET state = 'passed', at = now() WHERE id = " +
                             work.quote(ticket)
                       : "DELETE FROM kestrune_job_units WHERE state = 'flight' AND id = " +
                             work.quote(ticket));
      work.commit();
      return true;
    } catch (const std::exception &failure) {
      why = Failure(failure);
      return false;
    }
  }

  bool Count(JobPlaces &places, std::string &why) override {
    places = JobPlaces{};
    try {
      records::BoundedConnection connection(Url, nullptr);
      pqxx::work work(connection);
      pqxx::row row = work.exec1(
          "SELECT count(*) FILTER (WHERE state = 'passed'), count(*) FILTER (WHERE state = "
          "'flight'), count(*) FILTER (WHERE state = 'lost'), count(*) FILTER (WHERE state = "
          "'lost' AND station = " +
          work.quote(Key.Station) + ") FROM kestrune_job_units WHERE job_name = " +
          work.quote(Key.Name) + " AND job_version = " + work.quote(Key.Version));
      work.commit();
      places.Built = row[0].as<uint64_t>();
      places.UnderWay = row[1].as<uint64_t>();
      places.Ended = row[2].as<uint64_t>();
      places.EndedHere = row[3].as<uint64_t>();
      return true;
    } catch (const std::exception &failure) {
      why = Failure(failure);
      return false;
    }
  }

  bool ReleaseEnded(bool findEnded, uint64_t &released, std::string &why) override {
    released = 0;
    try {
      // The places of this station's programs that ended since the store
      // was opened are found first; one still under way is never touched.
      Prepare(findEnded);
      records::BoundedConnection connection(Url, nullptr);
      pqxx::work work(connection);
      pqxx::result gone = work.exec(
          "DELETE FROM kestrune_job_units WHERE state = 'lost' AND station = " +
          work.quote(Key.Station) + " AND job_name = " + work.quote(Key.Name) +
          " AND job_version = " + work.quote(Key.Version));
      work.commit();
      released = uint64_t(gone.affected_rows());
      return true;
    } catch (const std::exception &failure) {
      why = Failure(failure);
      return false;
    }
  }

private:
  std::string Url;
  std::string Given;
  JobKey Key;
};

} // namespace

std::unique_ptr<JobUnitStore> OpenPgJobUnits(const std::string &url, const JobKey &key,
                                             std::string &why, bool findEnded) {
  auto store = std::make_unique<PgJobUnits>(url, key);
  try {
    store->Prepare(findEnded);
  } catch (const std::exception &failure) {
    why = store->Failure(failure);
    return nullptr;
  }
  return store;
}

} // namespace kestrune::jobcount
