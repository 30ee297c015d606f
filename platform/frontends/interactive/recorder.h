// A session at an interactive front end written down as a headless script, so that an
// odd moment found by hand can be replayed (`--record FILE`).
//
// The script opens with how to replay it, the registry values in which the device
// differs from a new device of its model (as `reg set` and `reg delete` lines, so that
// it replays on a new device), and `start` when Quillon started with the session. Then
// every key the user pressed (`press`) and every command typed on the command line,
// each after a `wait` for the handset time that passed since the one before (handset
// time, so that a session at --speed N replays at its own pace). Typed `wait` commands
// are left out: the time they took is in the waits already.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/frontends/line_output.h"
#include "platform/wintypes.h"

namespace frontends {

class SessionRecorder {
public:
    // Opens `file` for writing; false with `error` set when it cannot. A write that
    // fails later ends the script at its last whole line and is told to `report`.
    bool open(const std::filesystem::path& file, LineOutput::Report report, std::string& error);
    // Writes the opening lines, before Quillon starts; `quillon_starts`: the front end
    // starts Quillon with the session. The device and its registry are open.
    void begin(bool quillon_starts);
    // A key the user pressed.
    void key(BYTE vk);
    // A command typed on the command line, as typed.
    void command(const std::string& line);
    // The last wait, up to the session's end.
    void end();

private:
    void wait_until_now();
    void line(const std::string& text);

    std::unique_ptr<LineOutput> out_;
    long long last_ms_ = 0;
};

// The registry of the device in use compared with a new device of its model: one
// `reg set` line for each value it holds differently or in addition, one `reg delete`
// for each it lacks. Empty when it could not be compared.
std::vector<std::string> registry_differences();

}  // namespace frontends
