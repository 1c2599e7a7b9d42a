#include "job/JobSignature.h"

#include "image/ImageDigest.h"
#include "platform/Utf8Paths.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kestrune::job {
namespace {

using nlohmann::json;
using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

constexpr const char *Algorithm = "ed25519";

std::string LibraryError() {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0)
    return "libcrypto failed";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string ReadAll(const std::string &path, bool &ok) {
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  ok = bool(in);
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ok = ok && !in.bad();
  return bytes;
}

Key ReadKey(const std::string &path, bool isPrivate, std::string &error) {
  bool ok = false;
  const std::string pem = ReadAll(path, ok);
  if (!ok) {
    error = "cannot read key file '" + path + "'";
    return Key(nullptr, EVP_PKEY_free);
  }
  Bio bio(BIO_new_mem_buf(pem.data(), int(pem.size())), BIO_free);
  Key key(bio ? (isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                           : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr))
              : nullptr,
          EVP_PKEY_free);
  ERR_clear_error();
  if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
    error = "key file '" + path + "' is no PEM Ed25519 " +
            (isPrivate ? "private" : "public") + " key";
    return Key(nullptr, EVP_PKEY_free);
  }
  return key;
}

std::string Fingerprint(EVP_PKEY *key) {
  unsigned char *der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  if (length <= 0)
    return {};
  std::string digest = Sha256Hex(der, size_t(length));
  OPENSSL_free(der);
  return digest;
}

std::string Base64(const std::vector<uint8_t> &bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
                                     bytes.data(), int(bytes.size()));
  text.resize(size_t(std::max(length, 0)));
  return text;
}

// Empty when the text is no base64.
std::vector<uint8_t> FromBase64(const std::string &text) {
  if (text.empty() || text.size() % 4 != 0)
    return {};
  std::vector<uint8_t> bytes(text.size() / 4 * 3);
  const int length = EVP_DecodeBlock(bytes.data(),
                                     reinterpret_cast<const unsigned char *>(text.data()),
                                     int(text.size()));
  if (length < 0)
    return {};
  size_t padding = 0;
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i)
    ++padding;
  bytes.resize(size_t(length) - std::min(padding, size_t(length)));
  return bytes;
}

// Writes text to path; the private key is never readable by others, not
// even for a moment.
std::string WriteFile(const std::string &path, const std::string &text, bool secret) {
#ifndef _WIN32
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        secret ? 0600 : 0644);
  if (fd < 0)
    return "cannot create '" + path + "': " + std::strerror(errno) + " (" +
           std::to_string(errno) + ")";
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      const int code = errno;
      ::close(fd);
      return "cannot write '" + path + "': " + std::strerror(code) + " (" +
             std::to_string(code) + ")";
    }
    done += size_t(n);
  }
  if (::close(fd) != 0)
    return "cannot write '" + path + "': " + std::strerror(errno) + " (" +
           std::to_string(errno) + ")";
  return {};
#else
  (void)secret;
  if (std::filesystem::exists(PathFromUtf8(path)))
    return "cannot create '" + path + "': it exists";
  std::ofstream out(PathFromUtf8(path), std::ios::binary);
  out << text;
  out.close();
  return out.fail() ? "cannot write '" + path + "'" : std::string();
#endif
}

std::string PemOf(EVP_PKEY *key, bool isPrivate) {
  Bio bio(BIO_new(BIO_s_mem()), BIO_free);
  if (!bio)
    return {};
  const int ok = isPrivate ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0,
                                                      nullptr, nullptr)
                           : PEM_write_bio_PUBKEY(bio.get(), key);
  if (ok != 1)
    return {};
  char *data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, size_t(length));
}

bool Verify(EVP_PKEY *key, const std::string &content, const std::vector<uint8_t> &signature) {
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  const bool good =
      context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key) == 1 &&
      EVP_DigestVerify(context.get(), signature.data(), signature.size(),
                       reinterpret_cast<const unsigned char *>(content.data()),
                       content.size()) == 1;
  ERR_clear_error();
  return good;
}

std::vector<std::string> PemFiles(const std::string &folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(PathFromUtf8(folder), error))
    if (entry.path().extension() == ".pem" && entry.is_regular_file(error))
      files.push_back(Utf8FromPath(entry.path()));
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace

std::string MakeKeyPair(const std::string &privatePath, const std::string &publicPath) {
  Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free);
  if (!key)
    return "cannot make an Ed25519 key: " + LibraryError();
  const std::string secret = PemOf(key.get(), true), open = PemOf(key.get(), false);
  if (secret.empty() || open.empty())
    return "cannot write the key as PEM: " + LibraryError();
  if (std::string problem = WriteFile(privatePath, secret, true); !problem.empty())
    return problem;
  if (std::string problem = WriteFile(publicPath, open, false); !problem.empty()) {
    std::error_code ignored;
    std::filesystem::remove(PathFromUtf8(privatePath), ignored);
    return problem;
  }
  return {};
}

std::string SignJobFile(const std::string &jobPath, const std::string &keyPath) {
  JobFile job;
  if (std::string problem = ReadJobFile(jobPath, job); !problem.empty())
    return problem;
  std::string error;
  Key key = ReadKey(keyPath, true, error);
  if (!key)
    return error;
  const std::string content = CanonicalContent(job.Document);
  DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t length = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length,
                     reinterpret_cast<const unsigned char *>(content.data()),
                     content.size()) != 1)
    return "cannot sign the job: " + LibraryError();
  std::vector<uint8_t> signature(length);
  if (EVP_DigestSign(context.get(), signature.data(), &length,
                     reinterpret_cast<const unsigned char *>(content.data()),
                     content.size()) != 1)
    return "cannot sign the job: " + LibraryError();
  signature.resize(length);
  json signed_ = job.Document;
  signed_["signature"] = {{"algorithm", Algorithm},
                          {"key_sha256", Fingerprint(key.get())},
                          {"value", Base64(signature)}};
  // Written beside the job and moved over it: a failed write leaves the
  // job as it was.
  const std::string temporary = jobPath + ".signing";
  std::error_code ignored;
  std::filesystem::remove(PathFromUtf8(temporary), ignored);
  if (std::string problem = WriteFile(temporary, signed_.dump(2) + "\n", false); !problem.empty())
    return problem;
  std::error_code moved;
  std::filesystem::rename(PathFromUtf8(temporary), PathFromUtf8(jobPath), moved);
  if (moved) {
    std::filesystem::remove(PathFromUtf8(temporary), ignored);
    return "cannot replace job file '" + jobPath + "': " + moved.message();
  }
  return {};
}

std::string PublicKeyFingerprint(const std::string &pemPath, std::string &error) {
  Key key = ReadKey(pemPath, false, error);
  return key ? Fingerprint(key.get()) : std::string();
}

SignatureVerdict CheckSignature(const JobFile &job, const std::vector<std::string> &folders) {
  SignatureVerdict verdict;
  const std::string title = "job " + JobTitle(job);
  if (job.Signature.is_null()) {
    verdict.State = SignatureState::Unsigned;
    verdict.Text = title + " is not signed";
    return verdict;
  }
  const json &s = job.Signature;
  auto text = [&s](const char *member) {
    return s.contains(member) && s[member].is_string() ? s[member].get<std::string>()
                                                       : std::string();
  };
  const std::vector<uint8_t> value = FromBase64(text("value"));
  const std::string keyName = text("key_sha256");
  if (text("algorithm") != Algorithm || value.size() != 64 || keyName.empty()) {
    verdict.State = SignatureState::Mismatch;
    verdict.Text = title + ": its signature is no Ed25519 signature with a key_sha256";
    return verdict;
  }
  const std::string content = CanonicalContent(job.Document);
  for (const std::string &folder : folders)
    for (const std::string &file : PemFiles(folder)) {
      std::string error;
      Key key = ReadKey(file, false, error);
      if (!key) {
        verdict.Notes.push_back("not trusted, skipped: " + error);
        continue;
      }
      if (Fingerprint(key.get()) != keyName)
        continue;
      verdict.KeyFile = file;
      if (Verify(key.get(), content, value)) {
        verdict.State = SignatureState::Trusted;
        verdict.Text = title + " is signed by trusted key '" + file + "'";
      } else {
        verdict.State = SignatureState::Mismatch;
        verdict.Text = title + ": its signature does not match its content (changed after "
                               "signing?)";
      }
      return verdict;
    }
  verdict.State = SignatureState::Untrusted;
  verdict.Text = title + " is signed by key " + keyName.substr(0, 16) +
                 " which this station does not trust";
  return verdict;
}

} // namespace kestrune::job
