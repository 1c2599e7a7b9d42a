#include "image/MotLoader.h"

#include "image/ImageState.h"

#include <string>
#include <system_error>

namespace kestrune {
namespace {

// Set from the start of a load until its procedure has returned.
std::atomic<bool> LoadRunning{false};

} // namespace

MotLoader::MotLoader(std::function<int()> procedure) : Procedure(std::move(procedure)) {}

MotLoader::~MotLoader() { Join(); }

bool MotLoader::Start(std::function<int()> procedure) {
  if (Running())
    return false;
  Join();
  Procedure = std::move(procedure);
  return Start();
}

bool MotLoader::Start() {
  bool idle = false;
  if (!LoadRunning.compare_exchange_strong(idle, true))
    return false;
  Join(); // the previous thread has ended; collect it
  Code = StillActive;
  try {
    Thread = std::thread([this] {
      int result = 1;
      try {
        result = Procedure();
      } catch (...) {
        LoadStatusText.Set("ERROR: The image loader failed");
      }
      // A procedure that claims to be still running has ended all the same.
      Code = result == int(StillActive) ? 1u : static_cast<uint32_t>(result);
      LoadRunning = false;
    });
  } catch (const std::system_error &failure) {
    LoadStatusText.Set("ERROR: Cannot start the image loader (" +
                       std::to_string(failure.code().value()) + ")");
    Code = 1;
    LoadRunning = false;
    return false;
  }
  return true;
}

void MotLoader::Join() {
  if (Thread.joinable())
    Thread.join();
}

} // namespace kestrune
