// Ed25519 signatures over a job's canonical content, made and checked with
// libcrypto. The signature member names its key by the SHA-256 of the public
// key's DER form, so a station finds the one trusted key that can check it.
#pragma once

#include "job/JobFile.h"

#include <string>
#include <vector>

namespace kestrune::job {

// Writes a new key pair: the private key as PKCS#8 PEM readable by its owner
// only, the public key as PEM. Empty on success, else the reason.
std::string MakeKeyPair(const std::string &privatePath, const std::string &publicPath);

// Signs the job file at jobPath with the private key in keyPath and writes
// the signature into the file's "signature" member. Empty on success.
std::string SignJobFile(const std::string &jobPath, const std::string &keyPath);

enum class SignatureState { Trusted, Unsigned, Untrusted, Mismatch };

struct SignatureVerdict {
  SignatureState State = SignatureState::Untrusted;
  std::string Text;               // the operator's account
  std::string KeyFile;            // the trusted key that checked it
  std::vector<std::string> Notes; // trusted-key files that could not be read
};

// Checks the job's signature against every *.pem in the folders.
SignatureVerdict CheckSignature(const JobFile &job, const std::vector<std::string> &folders);

// SHA-256 of a PEM public key file's DER form, lower-case hex; empty with
// the reason in error when it is no Ed25519 public key.
std::string PublicKeyFingerprint(const std::string &pemPath, std::string &error);

} // namespace kestrune::job
