// Runs the built phone headless on a script and collects what it did: the event log,
// what the commands printed, the error output and the exit status. A Phone keeps one
// device folder across its runs, so a later run finds what an earlier one left. Scripts
// name the program's commands and controls with the lines of common/script_lines.h.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/build_paths.h"
#include "common/script_lines.h"
#include "common/temp_dir.h"
#include "program/event_seq.h"

namespace scenario {

using qtest::Click;
using qtest::Command;
using qtest::Select;
using seqtest::Expected;
using seqtest::Json;
using seqtest::ok_seq;
using seqtest::ok_seq_of;

struct PhoneRun {
    int status = -1;
    std::vector<Json> events;
    std::vector<Json> controls;  // the objects the `controls` commands printed, in order
    std::string errors;

    std::vector<Json> Of(const std::string& kind) const { return seqtest::OfKinds(events, {kind}); }
    // Control `id` of the `which`-th `controls` output, or null.
    Json Control(std::size_t which, int id) const {
        if (which >= controls.size()) return Json();
        for (const Json& c : controls[which].value("controls", Json::array()))
            if (c.value("id", 0) == id) return c;
        return Json();
    }
    std::string Text(std::size_t which, int id) const { return Control(which, id).value("text", "<none>"); }
    bool Checked(std::size_t which, int id) const { return Control(which, id).value("checked", false); }
    bool Enabled(std::size_t which, int id) const { return Control(which, id).value("enabled", false); }
    int Selected(std::size_t which, int id) const { return Control(which, id).value("selected", -2); }
};

// The short vibration a settings dialog gives as it takes a key.
inline const Expected kFeedback{"vibrate", {{"ms", 50}}};
// A registry write of value `name`, whatever its data.
inline Expected Moved(const std::string& name) { return {"reg.set", {{"name", name}}}; }

// `log` without the registry events of keys below `key_prefix`.
inline std::vector<Json> WithoutKey(const std::vector<Json>& log, const std::string& key_prefix) {
    std::vector<Json> out;
    for (const Json& e : log)
        if (!e.value("ev", "").starts_with("reg.") || !e.value("key", "").starts_with(key_prefix)) out.push_back(e);
    return out;
}

class Phone {
public:
    explicit Phone(std::string model = "skt") : model_(std::move(model)), dir_("quillon-scenario") {}

    // Runs `script` (one handset command a line) with extra command-line options.
    PhoneRun Start(const std::string& script, const std::vector<std::string>& options = {}) {
        const std::string n = std::to_string(runs_++);
        const auto file = [&](const char* name) { return dir_.file(name + n); };
        std::ofstream(file("script")) << script;
        std::string command = Quote(qtest::kQuillonBinary) + " --headless --device " + Quote(Device().string()) +
                              " --model " + model_ + " --script " + Quote(file("script")) + " --log " +
                              Quote(file("events"));
        for (const std::string& option : options) command += " " + Quote(option);
        command += " >" + Quote(file("out")) + " 2>" + Quote(file("err")) + " </dev/null";

        PhoneRun run;
        const int raw = std::system(command.c_str());
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        std::ifstream log(file("events"));
        for (std::string line; std::getline(log, line);)
            if (!line.empty()) run.events.push_back(Json::parse(line));
        std::ifstream out(file("out"));
        for (std::string line; std::getline(out, line);)
            if (line.starts_with("{")) run.controls.push_back(Json::parse(line));
        std::ostringstream err;
        err << std::ifstream(file("err")).rdbuf();
        run.errors = err.str();
        return run;
    }

    // Puts a copy of the program file at another device path, for --exe-path.
    void CopyProgramTo(const std::filesystem::path& relative) const {
        const auto fs = Device() / "fs";
        std::filesystem::create_directories((fs / relative).parent_path());
        std::filesystem::copy_file(fs / "Program Files/Quillon/Quillon.exe", fs / relative);
    }
    std::filesystem::path Device() const { return dir_ / "device"; }

private:
    static std::string Quote(const std::string& text) {
        std::string quoted = "'";
        for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    std::string model_;
    qtest::TempDir dir_;
    int runs_ = 0;
};

}  // namespace scenario
