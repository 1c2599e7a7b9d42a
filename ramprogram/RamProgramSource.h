// Which sources the RAM program image that the program carries was built
// from: the SHA-256 that ramprogram/MakeImage.cmake computes over them.
#pragma once

namespace kestrune {

extern const char RamProgramSourceHash[];

} // namespace kestrune
