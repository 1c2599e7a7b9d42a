// Where a production job's count of units is kept: every unit under way
// and every unit passed under the job, in the station's records database or
// on the line's server, so that a restart, a crash and a second program (or
// a second station, on the server) all see the same count.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrune::jobcount {

struct JobKey {
  std::string Name;
  std::string Version;
  uint64_t Units = 0;  // how many may pass under the job
  std::string Station; // this station's name, on each place it takes
};

struct UnitPlace {
  bool Taken = false;  // false: passed plus under way came to the job's units
  int64_t Ticket = 0;  // the place, for Settle
  uint64_t Passed = 0; // as counted when the place was asked for
  uint64_t UnderWay = 0;
  bool Stopped = false; // the ask was ended by a stop; nothing was taken
};

struct JobPlaces {
  uint64_t Built = 0;    // units passed
  uint64_t UnderWay = 0; // places held by programs running now
  uint64_t Ended = 0;    // places left by programs that ended: counted as built
  uint64_t EndedHere = 0; // of those, the ones of this station
};

class JobUnitStore {
public:
  virtual ~JobUnitStore() = default;
  // Takes a place for one unit when the units passed plus those under way
  // are fewer than the job's, in one transaction: two programs asking at
  // once never both take the last place. False with why when the store
  // cannot be asked, or (place.Stopped) when stop was set while it waited
  // for the database or the server: then no place is taken.
  virtual bool Take(int channel, UnitPlace &place, std::string &why,
                    const std::atomic<bool> *stop = nullptr) = 0;
  // The unit's end: a passed one counts for good, any other frees its
  // place.
  virtual bool Settle(int64_t ticket, bool passed, std::string &why) = 0;

  // The job's places as they stand, for the supervisor.
  virtual bool Count(JobPlaces &places, std::string &why) = 0;
  // Gives back the places this station's programs left under way when they
  // ended without saying how their unit went (counted as built until then),
  // once the supervisor has checked those units. Never a place of a
  // program still running. findEnded: first look for this station's
  // programs that ended since, by their process ids, which only this
  // station's own machine can do. released: how many.
  virtual bool ReleaseEnded(bool findEnded, uint64_t &released, std::string &why) = 0;
};

// The station's records database. Places left under way by a program of
// this station that no longer runs (a crash) are counted as built from
// then on: whether their unit passed cannot be known.
std::unique_ptr<JobUnitStore> OpenSqliteJobUnits(const std::string &path, const JobKey &key,
                                                 std::string &why);
// The line's server (a postgresql:// URL). Each call connects with the
// address's time limit; a server that cannot be reached is an error.
// findEnded: the places of the key's station whose programs no longer run
// are found (by process id) and counted as built; only the station's own
// machine may do that.
std::unique_ptr<JobUnitStore> OpenPgJobUnits(const std::string &url, const JobKey &key,
                                             std::string &why, bool findEnded = true);

} // namespace kestrune::jobcount
