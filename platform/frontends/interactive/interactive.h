// The life of a phone that a person drives, shared by the terminal phone and the phone
// window; each keeps only its own drawing and the way its keys and wake-ups arrive.
//
// It brings the phone up (events to the console log and to the --log file, the --record
// script, the worker for typed commands, the device services, Quillon unless --no-start)
// and down again. The user's end (F10, Ctrl-C) ends Quillon by its own end command after
// what runs; a second one leaves at once. An end that no one can repeat (TERM, HUP, a
// lost terminal) leaves on its own after a grace period when Quillon has not ended by
// then. Everything here but the constructor's wake callback runs on the UI thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/frontends/frontend.h"
#include "platform/frontends/interactive/console.h"
#include "platform/frontends/interactive/handset_controls.h"
#include "platform/frontends/interactive/recorder.h"
#include "platform/frontends/line_output.h"
#include "platform/phone/phone.h"
#include "platform/wintypes.h"

namespace frontends {

class InteractivePhone {
public:
    // `wake` is called from any thread whenever the front end should draw again.
    InteractivePhone(InteractiveOptions options, std::function<void()> wake);
    ~InteractivePhone();
    InteractivePhone(const InteractivePhone&) = delete;
    InteractivePhone& operator=(const InteractivePhone&) = delete;

    // Brings the phone up; what fails on the way goes to the log.
    void start();
    // Takes it down after the front end's loop, unless leaving_now().
    void end();

    ConsoleLog& log() { return log_; }
    phone::Phone& phone() { return *phone_; }
    const handset::shell::PhoneTime& time() const { return time_; }
    CommandLine& command_line() { return command_line_; }

    // The user's key: recorded, then pressed.
    void press(BYTE vk);
    // A line entered at the command line: the front end's own words, or a handset
    // command for the worker.
    void submit_command_line(const std::string& text);
    // A handset control used: its command runs and is recorded as if typed. False, and
    // nothing happens, where the control would change nothing now.
    bool use_control(const HandsetControl& control);
    void request_quit();
    // An end that no user at the phone asked for.
    void request_unattended_end();
    // SIGINT is the user's F10; SIGTERM and SIGHUP come from outside.
    void on_signal(int signo);

    // The line under the panel: what runs, the end under way, or the last message.
    std::string status() const;
    bool status_is_error() const;
    void clear_message() { message_.clear(); }

    // The loop is over: Quillon has ended in the worker, or the phone must leave now.
    bool finished();
    bool leaving_now() const { return leave_now_; }
    // Real-time milliseconds until the loop must look again without a wake-up: the next
    // minute of the clocks on screen, or the unattended end's deadline.
    long long next_look_ms();

private:
    InteractiveOptions options_;
    std::function<void()> wake_;
    ConsoleLog log_;
    handset::shell::PhoneTime time_;
    std::unique_ptr<LineOutput> log_file_;  // the events, with --log
    std::unique_ptr<phone::Phone> phone_;
    std::unique_ptr<CommandWorker> worker_;
    SessionRecorder recorder_;  // writes nothing unless opened
    CommandLine command_line_;
    std::string message_;
    int command_number_ = 0;
    bool quitting_ = false;
    bool leave_now_ = false;
    std::optional<std::chrono::steady_clock::time_point> end_deadline_;
};

}  // namespace frontends
