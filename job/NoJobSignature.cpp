// A build without libcrypto (the Windows build, until its libraries are
// built) can neither make nor check signatures: a signed job is refused as
// unchecked, and an unsigned one runs only where unsigned jobs are allowed.
#include "job/JobSignature.h"

namespace kestrune::job {
namespace {

const char *const NoCrypto = "this build of Kestrune has no Ed25519 signatures (built without libcrypto)";

} // namespace

std::string MakeKeyPair(const std::string &privatePath, const std::string &publicPath) {
  (void)privatePath;
  (void)publicPath;
  return std::string("cannot make a key pair: ") + NoCrypto;
}

std::string SignJobFile(const std::string &jobPath, const std::string &keyPath) {
  (void)keyPath;
  return "cannot sign '" + jobPath + "': " + NoCrypto;
}

SignatureVerdict CheckSignature(const JobFile &job, const std::vector<std::string> &folders) {
  (void)folders;
  SignatureVerdict verdict;
  const std::string title = "job " + JobTitle(job);
  if (job.Signature.is_null()) {
    verdict.State = SignatureState::Unsigned;
    verdict.Text = title + " is not signed";
    return verdict;
  }
  verdict.State = SignatureState::Untrusted;
  verdict.Text = "the signature of " + title + " cannot be checked: " + NoCrypto;
  return verdict;
}

std::string PublicKeyFingerprint(const std::string &pemPath, std::string &error) {
  error = "cannot read '" + pemPath + "': " + NoCrypto;
  return {};
}

} // namespace kestrune::job
