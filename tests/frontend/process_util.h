// Helpers for the front-end tests that run the built `quillon`: the shared child-process
// helpers under the names these tests use, and the limit of a single wait on a pipe.
#pragma once

#include "common/child_process.h"

namespace fetest {

namespace fs = std::filesystem;

// Limit for any single wait on the phone, so that a broken build fails instead of hanging.
constexpr int kPipeLimitMs = 30'000;

using qtest::lines_of;
using qtest::read_file;
using qtest::Result;
using qtest::run_quillon;
using qtest::TempDir;
using qtest::write_file;
using Process = qtest::Child;

}  // namespace fetest
