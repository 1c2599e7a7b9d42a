#include "image/ImageState.h"

namespace kestrune {

Guarded<std::string> MotFileName;
Guarded<std::string> LoadStatusText{"Loading MOT File"};
Guarded<std::vector<std::string>> LoadWarnings;
Guarded<std::shared_ptr<const ImageBytes>> LoadedImageReady;

} // namespace kestrune
