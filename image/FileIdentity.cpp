#include "image/FileIdentity.h"

#include "platform/Utf8Paths.h"

#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kestrune {

FileIdentity IdentifyFile(const std::string &path) {
  FileIdentity identity;
#ifdef _WIN32
  std::error_code error;
  const std::filesystem::path name = PathFromUtf8(path);
  const auto size = std::filesystem::file_size(name, error);
  if (error)
    return identity;
  const auto written = std::filesystem::last_write_time(name, error);
  if (error)
    return identity;
  identity.Size = size;
  identity.WrittenNs =
      std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch()).count();
#else
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0)
    return identity;
  identity.Size = uint64_t(status.st_size);
  identity.WrittenNs = int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  identity.Device = uint64_t(status.st_dev);
  identity.Number = uint64_t(status.st_ino);
#endif
  identity.Exists = true;
  return identity;
}

} // namespace kestrune
