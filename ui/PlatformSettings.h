// The settings backend of the platform the program runs on.
#pragma once

#include "platform/SettingsStore.h"

#include <memory>

namespace kestrune {

std::unique_ptr<SettingsStore> CreatePlatformSettings();

} // namespace kestrune
