// Starts and ends Quillon on the emulated phone, as the phone's launcher does.
//
// When Quillon does not run in this host, `start` runs it here: a handset thread that
// belongs to a program process of this host calls the framework's entry. When it runs
// here already, `start` runs a new OS process of the same executable on the same
// device (a child host, see make_child in frontend.h), which then meets the program's
// single-instance rule; the child's events are relayed into this host's event log,
// and handset time here holds still until the child has ended. `quit` ends Quillon as
// its menu command "프로그램 종료" does.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/handset/core/kernel.h"
#include "platform/handset/core/process.h"

namespace phone {

class ProgramHost {
public:
    ProgramHost();
    ~ProgramHost();
    ProgramHost(const ProgramHost&) = delete;
    ProgramHost& operator=(const ProgramHost&) = delete;

    // Starts Quillon (from `exe_path`, else the device's program path). Returns false
    // with `error` set when it could not be started.
    bool start(const std::optional<std::u16string>& exe_path, std::string& error);
    // Ends Quillon through its menu command and waits until it has ended. False with
    // `error` set when it does not run here or does not end.
    bool quit(std::string& error);

    bool running() const;
    // True once Quillon, started here, has ended without `quit` asking it to (a quit
    // that gave up waiting has still asked).
    bool ended_by_itself() const;
    // Waits `ms` of handset time; returns early (false) when Quillon ends by itself
    // meanwhile, and at once (true) once cancel_waits was called. The caller takes
    // part in handset time.
    bool wait(long long ms);
    // Ends every `wait` in progress and each one after it: the front end is leaving.
    void cancel_waits();

    // A program started here that has lost its main window is on its way out (its end
    // command ran, or it was a second instance): waits until it has ended, so that the
    // next command finds it ended. Returns at once otherwise, and while the program's
    // start is still under way (it has made no main window yet).
    void await_if_ending();

    // Waits until the program started here has ended; returns its exit code.
    DWORD wait_for_end();

    // Called on the program's thread when Quillon has ended by itself.
    void set_on_end(std::function<void()> callback);

    // Relays at once the events child hosts have written so far. A child that asks this
    // host for something wrote its events before it asked; relaying them first keeps
    // the log in the order things happened (its start before the window it raised).
    void relay_child_events();

    // Exit status of a child host that could not run at all (as opposed to one whose
    // program ended at once, as a second instance does).
    static constexpr int kChildHostFailed = 125;
    // Exit status of a child host whose program found no first instance and stayed (the
    // first one ended as it started); the child ended it again by its end command.
    static constexpr int kChildBecameFirst = 124;

    // The command line a child host is started with; for tests.
    static std::vector<std::string> child_arguments(const std::u16string& exe_path);

private:
    // Starts the program's thread; `pid` receives its process id.
    bool start_here(const std::u16string& exe_path, DWORD& pid, std::string& error);
    // Runs a child host until it ends; `became_first` when its program stayed, as the
    // first instance, and had to be ended by the child.
    bool start_child(const std::u16string& exe_path, bool& became_first, std::string& error);

    // The read end of a running child host's event pipe, and what it has sent of a line.
    struct ChildEvents {
        int fd;
        std::string partial;
    };
    // Relays the complete lines `child` has written; false once it has closed its end.
    // Under relay_mu_.
    static bool relay_available(ChildEvents& child);

    std::mutex start_mu_;
    mutable std::mutex mu_;
    std::mutex end_mu_;  // guards on_end_ and every call of it
    std::shared_ptr<handset::ThreadObject> thread_;     // the running program's main thread
    std::shared_ptr<handset::ThreadObject> last_thread_;  // the latest run's, kept until it is gone
    std::shared_ptr<handset::ProcessObject> process_;   // its process
    handset::EventObject waits_cancelled_{true, false};  // guarded by the kernel lock
    bool started_ = false;  // the latest run has waited for the user once (or ended)
    bool quitting_ = false;
    bool ended_by_itself_ = false;
    int runs_ = 0;
    std::function<void()> on_end_;
    std::mutex relay_mu_;  // guards children_ and every read of their pipes
    std::vector<ChildEvents*> children_;
};

}  // namespace phone
