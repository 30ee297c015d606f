// One phone brought up for a front end and taken down again, in the right order. Every
// front end (terminal, headless, child host, window) builds its phone here and keeps
// only its own input and output.
//
// Up, in this order: the event sink; the program host, the executor that runs handset
// commands on it, and the control socket that takes them from `quillon ctl` and other
// hosts; the launcher (the home screen and its "Quillon" soft key). The device services
// and Quillon itself start when the front end asks (start_services, start_quillon), on
// a thread that takes part in handset time. Down, in reverse: end() ends Quillon by its
// own end command if it still runs and stops the device services, again on a thread
// that takes part; the destructor then removes the launcher, stops the control socket
// and removes the sink.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/phone/control.h"
#include "platform/phone/executor.h"
#include "platform/handset/shell/launcher.h"
#include "platform/phone/program_host.h"
#include "platform/handset/core/events.h"

namespace phone {

struct PhoneOptions {
    // The launcher's home screen and soft key, with the home screen's clock. A child
    // host, which runs a second instance for its parent, has none.
    std::optional<handset::shell::PhoneTime> home_screen;
    // What the home screen's "Quillon" key does. Empty: start Quillon here at once (a
    // front end with a worker thread hands the start over to it instead).
    std::function<void()> launch;
    // Where the phone's own problems go (the control socket cannot be made, Quillon
    // cannot start from the home screen): one line each, without a trailing line break.
    std::function<void(const std::string&)> report;
};

class Phone {
public:
    Phone(PhoneOptions options, handset::EventLog::Sink sink);
    ~Phone();
    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    ProgramHost& host() { return host_; }
    Executor& executor() { return executor_; }

    // Starts the device services (the power manager's idle countdown). The caller takes
    // part in handset time, so that virtual time cannot run ahead before it has begun.
    void start_services();
    // Starts Quillon as the phone's launcher does; false with `error` set when it cannot.
    bool start_quillon(std::string& error);
    // Ends Quillon if it still runs, then stops the device services. The caller still
    // takes part in handset time: once it leaves, virtual time could run on to the
    // services' next deadline after the run's end. False with `error` set when Quillon
    // did not end; the services are stopped all the same.
    bool end(std::string& error);

private:
    void report(const std::string& text) const;

    PhoneOptions options_;
    int sink_;
    ProgramHost host_;
    Executor executor_{host_};
    ControlServer server_;
    std::optional<handset::shell::Launcher> launcher_;
    bool services_ = false;
};

}  // namespace phone
