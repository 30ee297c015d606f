// Runs handset commands against the emulated phone.
//
// Every front end feeds its commands through one Executor: the headless script runner,
// the terminal's command line and the control socket. A command runs on the calling
// thread, which takes part in handset time while it runs, so virtual time moves only
// inside `wait` (or inside the phone's own waits that a command triggers).
#pragma once

#include <string>

#include "platform/phone/commands.h"

namespace phone {

class ProgramHost;

class Executor {
public:
    explicit Executor(ProgramHost& host) : host_(host) {}

    // Runs `command`, appending what it prints (screen, controls, reg get) to `out`, a
    // line at a time, each with its newline.
    // False with `error` set when the command could not be carried out; the phone is
    // then as the command found it, apart from what the command's own effect already did.
    // `notice` gets a word for the user that is no error: an input command whose input
    // waits in the queue of a thread that is blocked outside its message loop.
    bool run(const Command& command, std::string& out, std::string& error, std::string& notice);

    ProgramHost& host() { return host_; }

private:
    ProgramHost& host_;
};

}  // namespace phone
