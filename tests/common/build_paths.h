// Where this checkout and its build keep what the tests run and read: the phone's binary
// and the source tree. The build writes them into one small object of its own
// (build_paths.cpp in the build folder) rather than into the tests' compile flags, so
// that a test's object is the same in every checkout and a compiler cache hands it to a
// fresh clone.
#pragma once

namespace qtest {

extern const char* const kQuillonBinary;  // empty in a build without the phone
extern const char* const kSourceDir;
// The desktop's icons the build drew; only a build with the packaging tests has it.
extern const char* const kHicolorDir;

}  // namespace qtest
