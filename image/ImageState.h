// What the image loader shares with the front end that runs it (one loader
// per process): the file to load, the loader's texts and the image it made
// ready. The channel workers read none of it: each run sends the image its
// plan holds.
#pragma once

#include "image/Guarded.h"
#include "image/ImageBytes.h"

#include <memory>
#include <string>
#include <vector>

namespace kestrune {

// The file the operator chose; written by the window just before a load.
extern Guarded<std::string> MotFileName;
// The loader's latest message; the window shows it while it polls.
extern Guarded<std::string> LoadStatusText;
// What the latest load found that did not stop it ("WARNING: ..."), for the
// front ends to show; emptied when a load starts and set before the
// loader's final text.
extern Guarded<std::vector<std::string>> LoadWarnings;
// The image of the latest load, set when it succeeded and emptied when a
// load starts; the front end takes it once the load has ended and keeps it
// for the runs it starts.
extern Guarded<std::shared_ptr<const ImageBytes>> LoadedImageReady;

} // namespace kestrune
