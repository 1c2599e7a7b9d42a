#include "records/ServerCut.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace kestrune::records {
namespace {

void ShutSocket(int socket) {
#ifdef _WIN32
  ::shutdown(SOCKET(socket), SD_BOTH);
#else
  ::shutdown(socket, SHUT_RDWR);
#endif
}

} // namespace

void ServerCut::Cut() {
  std::lock_guard lock(Mutex);
  Done = true;
  if (Socket >= 0)
    ShutSocket(Socket);
}

bool ServerCut::IsCut() const {
  std::lock_guard lock(Mutex);
  return Done;
}

void ServerCut::SetSocket(int socket) {
  std::lock_guard lock(Mutex);
  Socket = socket;
  if (Done && Socket >= 0)
    ShutSocket(Socket);
}

} // namespace kestrune::records
