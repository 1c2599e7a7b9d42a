#include "serial/JobScheme.h"

#include "image/ImageDigest.h"
#include "platform/Utf8Paths.h"

#include <fstream>
#include <iterator>

namespace kestrune::serial {

namespace {

// A job pins every byte it sends: a list file's values, too, by its digest.
bool ListsPinned(const SerialScheme &scheme, std::string &error) {
  for (const SchemeField &field : scheme.Fields)
    if (!field.ListFile.empty() && !field.ListPinned) {
      error = "serial field " + field.Name + ": list file " + field.ListFile + " has SHA-256 " +
              field.ListSha256 + ", and the job's scheme pins no digest for it (give \"list\": " +
              "{\"path\": ..., \"sha256\": ...})";
      return false;
    }
  return true;
}

bool ReadSchemeOfJob(const job::JobFile &job, SerialScheme &scheme, std::string &error) {
  if (!job::HasSerialScheme(job))
    return true;
  if (job.SerialPath.empty()) {
    scheme.Path = "of job " + job::JobTitle(job);
    return ParseScheme(job.Serial.dump(), job.Folder.empty() ? "." : job.Folder, scheme, error);
  }
  std::ifstream in(PathFromUtf8(job.SerialPath), std::ios::binary);
  if (!in) {
    error = "cannot open its serial scheme '" + job.SerialPath + "'";
    return false;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    error = "cannot read its serial scheme '" + job.SerialPath + "'";
    return false;
  }
  const std::string digest =
      Sha256Hex(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
  if (digest != job.SerialSha256) {
    error = "serial scheme '" + job.SerialPath + "' has SHA-256 " + digest + ", the job pins " +
            job.SerialSha256;
    return false;
  }
  scheme.Path = job.SerialPath;
  const std::string folder = Utf8FromPath(PathFromUtf8(job.SerialPath).parent_path());
  return ParseScheme(bytes, folder.empty() ? "." : folder, scheme, error);
}

} // namespace

bool ReadJobScheme(const job::JobFile &job, SerialScheme &scheme, std::string &error) {
  scheme = SerialScheme{};
  return ReadSchemeOfJob(job, scheme, error) && ListsPinned(scheme, error);
}

} // namespace kestrune::serial
