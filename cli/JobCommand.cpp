#include "cli/JobCommand.h"

#include "job/TrustedKeys.h"
#ifdef KESTRUNE_HAVE_JOB_COUNT
#include "cli/JobUnits.h"
#endif

namespace kestrune {

CLI::App *AddJobCommand(CLI::App &app, JobCliOptions &options) {
  CLI::App *command = app.add_subcommand("job", "Make keys, sign and check production jobs");
  command->require_subcommand(1);
  options.Keygen = command->add_subcommand("keygen", "Make an Ed25519 key pair for signing jobs");
  options.Keygen->add_option("PRIVATE", options.PrivateKey, "Private key file to write (PEM)")
      ->required();
  options.Keygen->add_option("PUBLIC", options.PublicKey, "Public key file to write (PEM)")
      ->required();
  options.Sign = command->add_subcommand("sign", "Write the job's signature into it");
  options.Sign->add_option("--key", options.Key, "Private key file (PEM)")->required();
  options.Sign->add_option("JOB", options.File, "Job file")->required();
  options.Verify = command->add_subcommand("verify", "Check a job and its signature");
  options.Verify->add_option("--trusted-keys", options.TrustedKeys,
                             "Trust the public keys (*.pem) in this folder instead of the "
                             "station's own folders");
  options.Verify->add_flag("--allow-unsigned-jobs", options.AllowUnsigned,
                           "Accept a job without a signature");
  options.Verify->add_option("JOB", options.File, "Job file")->required();
#ifdef KESTRUNE_HAVE_JOB_COUNT
  options.Status = command->add_subcommand(
      "status", "The job's count of units: built, under way, held by programs that ended, left");
  options.Release = command->add_subcommand(
      "release", "Give back the places that programs of this station left under way when they "
                 "ended (counted as built until then), once their units were checked");
  for (CLI::App *sub : {options.Status, options.Release}) {
    sub->add_option("--job", options.File, "Job file")->required();
    sub->add_option("--records", options.Records,
                    "Where the count is kept: the line's server (postgresql://...) or the "
                    "station's database file (default: the job's, else the data folder's "
                    "records.sqlite)");
    sub->add_option("--station", options.Station,
                    "The station (default: the job's, else the host name)");
  }
#endif
  return command;
}

std::vector<std::string> TrustedFolders(const std::string &given) {
  return given.empty() ? job::DefaultTrustedKeyFolders() : std::vector<std::string>{given};
}

bool SignatureAllowsJob(const job::JobFile &job, const std::vector<std::string> &folders,
                        bool allowUnsigned, std::ostream &errors) {
  const job::SignatureVerdict verdict = job::CheckSignature(job, folders);
  for (const std::string &note : verdict.Notes)
    errors << "kestrune-cli: " << note << '\n';
  if (verdict.State == job::SignatureState::Trusted)
    return true;
  if (verdict.State == job::SignatureState::Unsigned && allowUnsigned) {
    errors << "kestrune-cli: " << verdict.Text << "; unsigned jobs are allowed\n";
    return true;
  }
  errors << "kestrune-cli: job refused: " << verdict.Text;
  if (verdict.State == job::SignatureState::Unsigned)
    errors << " (unsigned jobs are allowed only with --allow-unsigned-jobs)";
  errors << '\n' << std::flush;
  return false;
}

const std::vector<const char *> &JobPinnedOptions() {
  static const std::vector<const char *> pinned{
      "--image",        "--speed",   "--watchdog", "--resend-limit", "--ram-program",
      "--repeat",       "--swap-silence", "--records", "--station", "--serial",
      "--serial-lease"};
  return pinned;
}

int RunJobCommand(const JobCliOptions &options, std::ostream &out, std::ostream &errors) {
  if (options.Keygen->parsed()) {
    std::string problem = job::MakeKeyPair(options.PrivateKey, options.PublicKey);
    if (!problem.empty()) {
      errors << "kestrune-cli: " << problem << '\n';
      return 1;
    }
    std::string error;
    out << "Key pair written: private '" << options.PrivateKey << "', public '"
        << options.PublicKey << "' (key " << job::PublicKeyFingerprint(options.PublicKey, error)
        << ")\n";
    return 0;
  }
  if (options.Sign->parsed()) {
    std::string problem = job::SignJobFile(options.File, options.Key);
    if (!problem.empty()) {
      errors << "kestrune-cli: " << problem << '\n';
      return 1;
    }
    out << "Signed '" << options.File << "'\n";
    return 0;
  }
  job::JobFile job;
  if (std::string problem = job::ReadJobFile(options.File, job); !problem.empty()) {
    errors << "kestrune-cli: " << problem << '\n';
    return 1;
  }
#ifdef KESTRUNE_HAVE_JOB_COUNT
  if (options.Status->parsed() || options.Release->parsed())
    return RunJobPlaces(job, options.Records, options.Station, options.Release->parsed(), out,
                        errors);
#endif
  if (!SignatureAllowsJob(job, TrustedFolders(options.TrustedKeys), options.AllowUnsigned,
                          errors))
    return 1;
  out << "kestrune-cli: "
      << job::CheckSignature(job, TrustedFolders(options.TrustedKeys)).Text << '\n';
  return 0;
}

} // namespace kestrune
