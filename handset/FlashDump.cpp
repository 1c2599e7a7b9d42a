#include "handset/FlashDump.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrune::handset {

bool WriteFlashDump(const NorFlash &flash, const std::string &path, std::string &error) {
  std::string temporary = path + ".part";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = "cannot create " + temporary + ": " + std::strerror(errno);
    return false;
  }
  constexpr uint32_t Chunk = 1u << 20;
  std::vector<uint8_t> buffer(Chunk);
  for (uint32_t at = 0; at < NorFlash::Size; at += Chunk) {
    flash.CopyOut(at, buffer.data(), Chunk);
    size_t done = 0;
    while (done < Chunk) {
      ssize_t n = ::write(fd, buffer.data() + done, Chunk - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0) {
        error = "cannot write " + temporary + ": " + std::strerror(errno);
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
      }
      done += size_t(n);
    }
  }
  if (::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

} // namespace kestrune::handset
