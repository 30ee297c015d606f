// Helpers of the reliability tests: the shared child-process helpers, and the JSON
// lines (events, `controls` output) of what a phone printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/child_process.h"

namespace reltest {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using qtest::Child;
using qtest::Clock;
using qtest::kSlowdown;
using qtest::kStuckLimit;
using qtest::read_file;
using qtest::Result;
using qtest::run_quillon;
using qtest::TempDir;
using qtest::write_file;

// The JSON objects among `text`'s lines (events, `controls` output); other lines skipped.
inline std::vector<Json> json_lines(const std::string& text) {
    std::vector<Json> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.front() != '{') continue;
        Json j = Json::parse(line, nullptr, false);
        if (!j.is_discarded()) out.push_back(std::move(j));
    }
    return out;
}

}  // namespace reltest
