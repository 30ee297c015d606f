// What the interactive front ends (the terminal phone, the phone window) share besides
// the phone itself: the log of events, typed commands and their output shown beside the
// phone; the worker that runs typed commands off the UI thread, so that a long `wait`
// does not freeze the screen; the command line being typed, with its history; and the
// device state the side panel lists.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/phone/commands.h"
#include "platform/handset/shell/phone_state.h"
#include "platform/handset/core/events.h"
#include "platform/phone/phone.h"

namespace frontends {

struct ConsoleLine {
    enum class Kind { Event, Command, Output, Error, Info } kind;
    std::string text;
};

// The latest lines beside the phone. Thread-safe; `changed` runs after every change, on
// the thread that made it, without the log's lock held.
class ConsoleLog {
public:
    explicit ConsoleLog(std::function<void()> changed) : changed_(std::move(changed)) {}

    void add(ConsoleLine::Kind kind, std::string text);
    void clear();
    // The last `count` lines before the newest `skip` ones, oldest first.
    std::vector<ConsoleLine> latest(std::size_t count, std::size_t skip = 0) const;
    // The lines kept now.
    std::size_t size() const;
    // How many lines were ever added: it changes with every new line, kept or not.
    unsigned long long added() const;

private:
    mutable std::mutex mu_;
    std::deque<ConsoleLine> lines_;
    unsigned long long added_ = 0;
    std::function<void()> changed_;
};

// One event as a short log line: "   12.345 key vk=112 up=false".
std::string describe_event(const handset::Event& event);

// Runs typed commands on the phone one at a time, on a thread of its own that takes
// part in handset time only while a command runs. Their output, notices and errors go
// to the log. `changed` runs whenever what busy() or finished() answer changes.
class CommandWorker {
public:
    CommandWorker(phone::Phone& phone, ConsoleLog& log, std::function<void()> changed);
    // Stops after the command that runs (see stop()).
    ~CommandWorker();
    CommandWorker(const CommandWorker&) = delete;
    CommandWorker& operator=(const CommandWorker&) = delete;

    void run(std::string text, phone::Command command);
    // Ends Quillon by its own end command after the commands before it; finished()
    // then holds.
    void end_quillon();
    // Waits for the command that runs, drops the rest and joins the thread.
    void stop();

    // The command running now, or empty.
    std::string busy() const;
    bool finished() const;

private:
    struct Job {
        std::string text;
        std::optional<phone::Command> command;  // nothing: end Quillon
    };
    void submit(Job job);
    void loop();
    void carry_out(const Job& job);

    phone::Phone& phone_;
    ConsoleLog& log_;
    std::function<void()> changed_;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    std::string busy_;
    bool stopping_ = false;
    bool finished_ = false;
    std::thread thread_;
};

// The line typed after ':', with the lines entered before it to go back to.
class CommandLine {
public:
    bool editing() const { return editing_; }
    void open();
    // Leaves the line without entering it.
    void cancel();
    // Leaves the line and gives it, kept in the history when not empty.
    std::string enter();
    void type(char32_t c);
    void erase_last();
    void erase_all();
    void back();     // the line entered before the one shown
    void forward();  // and after it (an empty line past the last)
    // The line as typed (UTF-8).
    std::string text() const;

private:
    bool editing_ = false;
    std::u32string input_;
    std::vector<std::u32string> history_;
    std::size_t history_pos_ = 0;
};

// What a line typed at the command line asks for: a handset command for the worker;
// one of the front end's own words (help, clear, exit); or nothing, with `message` set
// when the line is malformed. The help and the command echo go to the log.
struct TypedLine {
    enum class Action { Nothing, Run, Exit } action = Action::Nothing;
    std::optional<phone::Command> command;
    std::string message;
};
TypedLine read_typed_line(const std::string& text, int number, ConsoleLog& log);

// The labels of the side panel's rows, in their order: "Time", "Speed", ... "Output".
std::span<const std::string_view> panel_row_labels();
// The side panel's rows: (label, value), one for each of panel_row_labels().
std::vector<std::pair<std::string, std::string>> panel_rows(const handset::shell::PhoneState& state,
                                                            const handset::shell::PhoneTime& time,
                                                            bool quillon_running);

}  // namespace frontends
