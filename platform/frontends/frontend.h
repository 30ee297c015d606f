// The front ends of the emulated phone behind one interface, chosen at start-up: the
// terminal phone (ncursesw), the phone window (SDL2), the headless script runner, and
// the child host that runs a second instance of the program for its parent.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace frontends {

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // Runs the phone until the front end's end; returns the process exit status.
    virtual int run() = 0;
};

// Exit statuses shared by the front ends.
constexpr int kExitOk = 0;
constexpr int kExitCommandFailed = 1;  // a command could not be carried out
constexpr int kExitBadInput = 2;       // a malformed command, script or option

struct HeadlessOptions {
    std::optional<std::filesystem::path> script;  // commands from stdin without one
    std::optional<std::filesystem::path> log;     // events to stdout without one
    std::optional<std::filesystem::path> trace;   // the run as a trace, written at its end
    bool no_start = false;                        // the script starts Quillon itself
};
std::unique_ptr<FrontEnd> make_headless(HeadlessOptions options);

// The phones a person drives: the terminal phone and the phone window.
struct InteractiveOptions {
    bool no_start = false;
    std::optional<std::filesystem::path> log;     // events also to a file
    std::optional<std::filesystem::path> record;  // the session as a headless script
};
std::unique_ptr<FrontEnd> make_terminal(InteractiveOptions options);

struct WindowOptions : InteractiveOptions {
    // Screen pixels per handset pixel, kMinWindowScale to kMaxWindowScale; 0: the
    // default scale, or the largest that fits the display when that one does not.
    int scale = 0;
};
std::unique_ptr<FrontEnd> make_window(WindowOptions options);

// Runs the program at `exe_path` as a second instance for a parent host.
std::unique_ptr<FrontEnd> make_child(std::u16string exe_path);

}  // namespace frontends
