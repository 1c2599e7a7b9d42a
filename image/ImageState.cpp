#include "image/ImageState.h"

namespace kestrune {

Guarded<std::string> MotFileName;
Guarded<std::string> ImageFileName;
std::atomic<int32_t> ImageIsRawBinary{0};
Guarded<std::string> LoadStatusText{"Loading MOT File"};
Guarded<std::vector<std::string>> LoadWarnings;

} // namespace kestrune
