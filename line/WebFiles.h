// The page's files, built into the program from line/web/ so that a
// factory network without internet is served them all.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrune::line {

struct WebFile {
  const char *Path;        // "/", "/app.js", ...
  const char *ContentType;
  std::string_view Body;
};

// Every file, ending with an entry whose Path is null.
const WebFile *WebFiles();

} // namespace kestrune::line
